#include "dbus/arg_type.hpp"

#include <dbus/dbus.h>

#include <array>
#include <utility>

#include "dbus/fatal.hpp"

namespace dbus {

// The codes are libdbus's own, since arg_type_from_code maps what its cursor reports.
static_assert(std::to_underlying(ArgType::nothing) == DBUS_TYPE_INVALID);
static_assert(std::to_underlying(ArgType::variant) == DBUS_TYPE_VARIANT);
static_assert(std::to_underlying(ArgType::array) == DBUS_TYPE_ARRAY);
static_assert(std::to_underlying(ArgType::structure) == DBUS_TYPE_STRUCT);
static_assert(std::to_underlying(ArgType::string) == DBUS_TYPE_STRING);
static_assert(std::to_underlying(ArgType::dict_entry) == DBUS_TYPE_DICT_ENTRY);
static_assert(std::to_underlying(ArgType::object_path) == DBUS_TYPE_OBJECT_PATH);
static_assert(std::to_underlying(ArgType::signature) == DBUS_TYPE_SIGNATURE);
static_assert(std::to_underlying(ArgType::unix_fd) == DBUS_TYPE_UNIX_FD);
static_assert(std::to_underlying(ArgType::boolean) == DBUS_TYPE_BOOLEAN);
static_assert(std::to_underlying(ArgType::byte) == DBUS_TYPE_BYTE);
static_assert(std::to_underlying(ArgType::int16) == DBUS_TYPE_INT16);
static_assert(std::to_underlying(ArgType::int32) == DBUS_TYPE_INT32);
static_assert(std::to_underlying(ArgType::int64) == DBUS_TYPE_INT64);
static_assert(std::to_underlying(ArgType::uint16) == DBUS_TYPE_UINT16);
static_assert(std::to_underlying(ArgType::uint32) == DBUS_TYPE_UINT32);
static_assert(std::to_underlying(ArgType::uint64) == DBUS_TYPE_UINT64);
static_assert(std::to_underlying(ArgType::double_) == DBUS_TYPE_DOUBLE);

namespace {

struct TypeRow {
  ArgType type;
  std::string_view word;
};

constexpr std::array<TypeRow, 18> type_rows{{
    {ArgType::variant, "Variant"},
    {ArgType::array, "Array/Dict"},
    {ArgType::structure, "Struct"},
    {ArgType::string, "String"},
    {ArgType::dict_entry, "Dict entry"},
    {ArgType::object_path, "Path"},
    {ArgType::signature, "Signature"},
    {ArgType::unix_fd, "File"},
    {ArgType::boolean, "bool"},
    {ArgType::byte, "u8"},
    {ArgType::int16, "i16"},
    {ArgType::int32, "i32"},
    {ArgType::int64, "i64"},
    {ArgType::uint16, "u16"},
    {ArgType::uint32, "u32"},
    {ArgType::uint64, "u64"},
    {ArgType::double_, "f64"},
    {ArgType::nothing, "nothing"},
}};

const TypeRow* find_row(int code) noexcept {
  for (const TypeRow& row : type_rows) {
    if (std::to_underlying(row.type) == code) return &row;
  }
  return nullptr;
}

}  // namespace

std::string_view word(ArgType type) noexcept {
  const TypeRow* row = find_row(std::to_underlying(type));
  if (row == nullptr) {
    fatal("Invalid ArgType " + std::to_string(std::to_underlying(type)));
  }
  return row->word;
}

ArgType arg_type_from_code(int code) noexcept {
  const TypeRow* row = find_row(code);
  if (row == nullptr) {
    // The character form goes through one byte, as a code this odd may not be printable anyway.
    std::string text = "Invalid ArgType " + std::to_string(code) + " (";
    text += static_cast<char>(code);
    text += ")";
    fatal(text);
  }
  return row->type;
}

std::string TypeMismatch::text() const {
  std::string result = "D-Bus argument type mismatch at position " + std::to_string(position) + ": expected ";
  result += word(expected);
  result += ", found ";
  result += expected == found ? std::string_view("same but still different somehow") : word(found);
  return result;
}

}  // namespace dbus
