#include "dbus/arg_type.hpp"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include "exact_text.hpp"

namespace dbus {
namespace {

TEST(ArgTypeTest, EveryLibdbusTypeCodeMapsToItsWord) {
  struct Row {
    int code;
    ArgType type;
    std::string_view word;
  };
  // clang-format off
  const Row rows[] = {
      {DBUS_TYPE_VARIANT, ArgType::variant, "Variant"},       {DBUS_TYPE_ARRAY, ArgType::array, "Array/Dict"},
      {DBUS_TYPE_STRUCT, ArgType::structure, "Struct"},       {DBUS_TYPE_STRING, ArgType::string, "String"},
      {DBUS_TYPE_DICT_ENTRY, ArgType::dict_entry, "Dict entry"}, {DBUS_TYPE_OBJECT_PATH, ArgType::object_path, "Path"},
      {DBUS_TYPE_SIGNATURE, ArgType::signature, "Signature"}, {DBUS_TYPE_UNIX_FD, ArgType::unix_fd, "File"},
      {DBUS_TYPE_BOOLEAN, ArgType::boolean, "bool"},          {DBUS_TYPE_BYTE, ArgType::byte, "u8"},
      {DBUS_TYPE_INT16, ArgType::int16, "i16"},               {DBUS_TYPE_INT32, ArgType::int32, "i32"},
      {DBUS_TYPE_INT64, ArgType::int64, "i64"},               {DBUS_TYPE_UINT16, ArgType::uint16, "u16"},
      {DBUS_TYPE_UINT32, ArgType::uint32, "u32"},             {DBUS_TYPE_UINT64, ArgType::uint64, "u64"},
      {DBUS_TYPE_DOUBLE, ArgType::double_, "f64"},            {DBUS_TYPE_INVALID, ArgType::nothing, "nothing"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(arg_type_from_code(row.code), row.type);
    EXPECT_EQ(word(row.type), row.word);
  }
}

TEST(ArgTypeTest, MismatchTextNamesPositionExpectedAndFound) {
  struct Row {
    TypeMismatch mismatch;
    std::string_view text;
  };
  const Row rows[] = {
      {{ArgType::uint32, ArgType::nothing, 0},
       "D-Bus argument type mismatch at position 0: expected u32, found nothing"},
      {{ArgType::int32, ArgType::string, 1}, "D-Bus argument type mismatch at position 1: expected i32, found String"},
      {{ArgType::string, ArgType::uint32, 0}, "D-Bus argument type mismatch at position 0: expected String, found u32"},
      {{ArgType::variant, ArgType::array, 4294967295u},
       "D-Bus argument type mismatch at position 4294967295: expected Variant, found Array/Dict"},
      {{ArgType::string, ArgType::string, 2},
       "D-Bus argument type mismatch at position 2: expected String, found same but still different somehow"},
  };
  for (const Row& row : rows) EXPECT_EQ(row.mismatch.text(), row.text);
}

TEST(ArgTypeDeathTest, AnUnknownTypeCodeStopsTheProcessNamingTheCode) {
  EXPECT_DEATH(arg_type_from_code('*'), exactly("Invalid ArgType 42 (*)"));
}

}  // namespace
}  // namespace dbus
