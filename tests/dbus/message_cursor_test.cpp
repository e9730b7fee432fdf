#include <gtest/gtest.h>

#include "dbus/message.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/raw_message.hpp"

namespace dbus {
namespace {

Message empty_signal() {
  return Message::signal(BusPath::from_constant("/t"), InterfaceName::from_constant("com.example.T"),
                         MemberName::from_constant("M"));
}

TEST(MessageCursorTest, ValuesReadBackInOrderWhileThePositionCounts) {
  Message message = empty_signal();
  MessageWriter writer(message);
  writer.append_string("hci0");
  writer.append_int32(-20);
  writer.append_uint32(4294967295u);
  writer.append_string("");

  MessageReader reader(message);
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(reader.read_string(), "hci0");
  EXPECT_EQ(reader.read_int32(), -20);
  EXPECT_EQ(reader.read_uint32(), 4294967295u);
  EXPECT_EQ(reader.read_string(), "");
  EXPECT_EQ(reader.position(), 4u);
  EXPECT_EQ(reader.current_type(), ArgType::nothing);
}

// The mismatch of one read of `type`, or nothing when the read succeeded.
std::optional<TypeMismatch> mismatch_of_read(MessageReader& reader, ArgType type) {
  auto mismatch = [](const auto& result) -> std::optional<TypeMismatch> {
    if (result) return std::nullopt;
    return result.error();
  };
  switch (type) {
    case ArgType::int32: return mismatch(reader.read_int32());
    case ArgType::uint32: return mismatch(reader.read_uint32());
    default: return mismatch(reader.read_string());
  }
}

TEST(MessageCursorTest, AFailedReadReportsWhereAndWhatAndDoesNotMove) {
  struct Row {
    std::string_view name;
    int strings_before;
    int reads_before;
    ArgType read;
    std::string_view text;
  };
  const Row rows[] = {
      {"empty message read as uint32", 0, 0, ArgType::uint32,
       "D-Bus argument type mismatch at position 0: expected u32, found nothing"},
      {"second of two strings read as int32", 2, 1, ArgType::int32,
       "D-Bus argument type mismatch at position 1: expected i32, found String"},
      {"after the last string read as uint32", 1, 1, ArgType::uint32,
       "D-Bus argument type mismatch at position 1: expected u32, found nothing"},
      {"empty message read as string", 0, 0, ArgType::string,
       "D-Bus argument type mismatch at position 0: expected String, found nothing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name));
    Message message = empty_signal();
    MessageWriter writer(message);
    for (int i = 0; i < row.strings_before; ++i) writer.append_string("x");
    MessageReader reader(message);
    for (int i = 0; i < row.reads_before; ++i) ASSERT_TRUE(reader.read_string());
    const auto failed = mismatch_of_read(reader, row.read);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->text(), row.text);
    EXPECT_EQ(reader.position(), static_cast<std::uint32_t>(row.reads_before));
  }
}

TEST(MessageCursorTest, AStringReadAsANumberLeavesTheStringReadable) {
  Message message = empty_signal();
  MessageWriter(message).append_string("still here");
  MessageReader reader(message);
  EXPECT_EQ(reader.read_uint32().error(), (TypeMismatch{ArgType::uint32, ArgType::string, 0}));
  EXPECT_EQ(reader.read_int32().error(), (TypeMismatch{ArgType::int32, ArgType::string, 0}));
  EXPECT_EQ(reader.read_string(), "still here");
}

TEST(MessageCursorTest, EnteringAVariantReadsItsContentFromPositionZero) {
  Message message = empty_signal();
  MessageWriter writer(message);
  writer.append_string("Range");
  writer.with_variant(Signature::from_constant("i"), [](MessageWriter& content) { content.append_int32(25); });
  writer.append_uint32(9);

  MessageReader reader(message);
  EXPECT_EQ(reader.enter_variant(), std::nullopt);  // a string is not a variant
  EXPECT_EQ(reader.position(), 0u);
  ASSERT_TRUE(reader.read_string());
  EXPECT_EQ(reader.current_type(), ArgType::variant);
  EXPECT_EQ(reader.current_signature(), "v");
  auto content = reader.enter_variant();
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(reader.position(), 2u);
  EXPECT_EQ(content->position(), 0u);
  EXPECT_EQ(content->current_signature(), "i");
  EXPECT_EQ(content->read_string().error().text(),
            "D-Bus argument type mismatch at position 0: expected String, found i32");
  EXPECT_EQ(content->read_int32(), 25);
  EXPECT_EQ(content->current_type(), ArgType::nothing);
  EXPECT_EQ(reader.read_uint32(), 9u);
}

TEST(MessageCursorTest, ADictionaryOfVariantsIsWrittenWithItsSignatureAndReadBackEntryByEntry) {
  Message message = empty_signal();
  MessageWriter writer(message);
  writer.append_string("com.orbo.Configuration.Legacy");
  MessageWriter array = writer.open_array(Signature::from_constant("{sv}"));
  for (std::int32_t level : {3, 30}) {
    MessageWriter entry = array.open_dict_entry();
    entry.append_string("Range");
    entry.with_variant(Signature::from_constant("i"), [&](MessageWriter& content) { content.append_int32(level); });
    array.close(entry);
  }
  writer.close(array);
  MessageWriter(message).append_string("ignored");  // a fresh append cursor goes on at the end

  EXPECT_EQ(message.signature(), "sa{sv}s");
  MessageReader reader(message);
  ASSERT_TRUE(reader.read_string());
  EXPECT_EQ(reader.current_type(), ArgType::array);
  EXPECT_EQ(reader.current_signature(), "a{sv}");
  EXPECT_EQ(reader.enter_dict_entry(), std::nullopt);  // an array is no dict entry
  auto entries = reader.enter_array();
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(reader.position(), 2u);
  for (std::int32_t level : {3, 30}) {
    auto entry = entries->enter_dict_entry();
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->read_string(), "Range");
    EXPECT_EQ(entry->enter_variant()->read_int32(), level);
  }
  EXPECT_EQ(entries->current_type(), ArgType::nothing);
  EXPECT_EQ(reader.read_string(), "ignored");
}

TEST(MessageCursorTest, StringsArePassedInPlaceOnlyWhenAlreadyTerminatedAndWellFormed) {
  struct Row {
    std::string_view text;
    bool copied;
    std::string_view appended;
  };
  const Row rows[] = {
      {std::string_view("hci0\0", 5), false, "hci0"},
      {"hci0", true, "hci0"},
      {std::string_view("", 0), true, ""},
      {std::string_view("\0", 1), false, ""},
      {"\xc3\xa9t\xc3\xa9", true, "\xc3\xa9t\xc3\xa9"},
      {std::string_view("a\xff"
                        "b\0",
                        4),
       true,
       "a\xEF\xBF\xBD"
       "b"},
      {"\xed\xa0\x80", true, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},                  // a lone surrogate
      {"\xc0\xaf", true, "\xEF\xBF\xBD\xEF\xBF\xBD"},                                  // an overlong "/"
      {"\xf4\x90\x80\x80", true, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // above U+10FFFF
      {"\xe2\x82", true, "\xEF\xBF\xBD"},                                              // cut short: one U+FFFD
      {"\xf0\x9f\x93\xb6", true, "\xf0\x9f\x93\xb6"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.text)));
    const CText c_text(row.text);
    EXPECT_EQ(c_text.copied(), row.copied);
    if (!row.copied) {
      EXPECT_EQ(c_text.c_str(), row.text.data());
    }

    Message message = empty_signal();
    MessageWriter(message).append_string(row.text);
    EXPECT_EQ(MessageReader(message).read_string(), row.appended);
  }
}

TEST(MessageCursorTest, GetMachineIdReplyCarriesOneString) {
  Message call = empty_signal();
  dbus_message_set_serial(RawMessage::get(call), 3);
  Message reply = Message::method_return(call);
  append_one_string(reply, "0123456789abcdef0123456789abcdef");
  MessageReader reader(reply);
  EXPECT_EQ(reader.read_string(), "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(reader.current_type(), ArgType::nothing);
}

}  // namespace
}  // namespace dbus
