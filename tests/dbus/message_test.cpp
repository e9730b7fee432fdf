#include "dbus/message.hpp"

#include <gtest/gtest.h>

#include "dbus/message_reader.hpp"
#include "dbus/raw_message.hpp"
#include "exact_text.hpp"

namespace dbus {
namespace {

// As if it had come off the bus: replies need the serial of what they answer.
Message call_to_peer() {
  Message call = Message::method_call(
      BusName::from_constant("com.orbo.RIDEviva"), BusPath::from_constant("/com/orbo/RIDEviva"),
      InterfaceName::from_constant("org.freedesktop.DBus.Peer"), MemberName::from_constant("Ping"));
  dbus_message_set_serial(RawMessage::get(call), 7);
  return call;
}

TEST(MessageTest, ConstructorsFillTheHeaderFields) {
  const Message call = call_to_peer();
  EXPECT_EQ(call.type(), MessageType::method_call);
  EXPECT_EQ(call.path(), "/com/orbo/RIDEviva");
  EXPECT_EQ(call.interface(), "org.freedesktop.DBus.Peer");
  EXPECT_EQ(call.member(), "Ping");
  EXPECT_EQ(call.destination(), "com.orbo.RIDEviva");
  EXPECT_EQ(call.sender(), std::nullopt);  // only the bus daemon fills it in

  const Message signal = Message::signal(BusPath::from_constant("/a"), InterfaceName::from_constant("com.example.S"),
                                         MemberName::from_constant("Changed"));
  EXPECT_EQ(signal.type(), MessageType::signal);
  EXPECT_EQ(signal.path(), "/a");
  EXPECT_EQ(signal.interface(), "com.example.S");
  EXPECT_EQ(signal.member(), "Changed");

  const Message reply = Message::method_return(call);
  EXPECT_EQ(reply.type(), MessageType::method_return);
  EXPECT_EQ(reply.reply_serial(), 7u);
  EXPECT_EQ(reply.path(), std::nullopt);
  EXPECT_EQ(reply.interface(), std::nullopt);
  EXPECT_EQ(reply.member(), std::nullopt);
}

TEST(MessageTest, AnErrorReplyCarriesItsNameAndTextExactly) {
  const Message call = call_to_peer();
  struct Row {
    std::string_view text;
    std::string_view carried;
  };
  const Row rows[] = {
      {"Method does not exist", "Method does not exist"},
      {"50% done %s", "50% done %s"},
      {"", ""},
      // libdbus would abort the whole process on malformed UTF-8, so it is repaired first.
      {"bad \xff byte", "bad \xEF\xBF\xBD byte"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text));
    const Message error =
        Message::error_reply(call, ErrorName::from_constant("org.freedesktop.DBus.Error.UnknownMethod"), row.text);
    EXPECT_EQ(error.type(), MessageType::error);
    EXPECT_EQ(error.error_name(), "org.freedesktop.DBus.Error.UnknownMethod");
    MessageReader reader(error);
    EXPECT_EQ(reader.read_string(), row.carried);
  }
}

TEST(MessageTest, MovedAndSharedMessagesEachReleaseTheirOwnReference) {
  Message original = call_to_peer();
  DBusMessage* raw = RawMessage::get(original);
  Message shared = original.another_reference();
  Message moved = std::move(original);
  EXPECT_FALSE(original);
  EXPECT_EQ(RawMessage::get(moved), raw);
  moved = Message();
  EXPECT_EQ(shared.member(), "Ping");  // still alive through the shared reference

  Message adopted = RawMessage::adopt(dbus_message_ref(raw));
  shared = Message();
  EXPECT_EQ(RawMessage::get(adopted), raw);
  EXPECT_EQ(adopted.member(), "Ping");  // the adopted reference was its own
}

// The bytes of a numbered method call with only the header fields given.
std::string call_bytes(const char* path, const char* member) {
  Message call = RawMessage::adopt(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_CALL));
  if (path != nullptr) dbus_message_set_path(RawMessage::get(call), path);
  if (member != nullptr) dbus_message_set_member(RawMessage::get(call), member);
  dbus_message_set_serial(RawMessage::get(call), 9);
  return call.to_wire();
}

// A message made from its wire bytes is the message that was sent, byte for byte; bytes that no
// sender could have sent are refused with libdbus's reason, as the bus daemon refuses them, so a
// call without a path or a member never reaches a handler.
TEST(MessageTest, WireBytesGiveBackTheSameMessageAndBrokenBytesAreRefused) {
  const Message call = call_to_peer();
  const std::string wire = call.to_wire();
  const auto copy = Message::from_wire(wire);
  ASSERT_TRUE(copy.has_value()) << copy.error().detailed();
  EXPECT_EQ(copy->to_wire(), wire);
  EXPECT_EQ(copy->serial(), 7u);
  EXPECT_EQ(copy->member(), "Ping");
  EXPECT_EQ(copy->signature(), "");

  const Message unsent = Message::method_return(call);  // no serial until a connection sends it
  ASSERT_TRUE(Message::from_wire(call_bytes("/a", "M")));
  const std::string refused[] = {"", wire.substr(0, wire.size() - 1), unsent.to_wire(), call_bytes(nullptr, "M"),
                                 call_bytes("/a", nullptr)};
  for (const std::string& bytes : refused) {
    const auto made = Message::from_wire(bytes);
    ASSERT_FALSE(made.has_value()) << bytes.size();
    EXPECT_NE(made.error().name(), "") << bytes.size();  // libdbus's: InvalidArgs, or NoMemory when cut short
  }
}

TEST(MessageDeathTest, AnEmptyMessageHasNoValidType) {
  const Message empty;
  EXPECT_DEATH((void)empty.type(), exactly("Invalid message type 0"));
}

}  // namespace
}  // namespace dbus
