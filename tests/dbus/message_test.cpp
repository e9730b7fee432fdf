#include "dbus/message.hpp"

#include <gtest/gtest.h>

#include "dbus/message_reader.hpp"
#include "exact_text.hpp"

namespace dbus {
namespace {

// As if it had come off the bus: replies need the serial of what they answer.
Message call_to_peer() {
  Message call = Message::method_call(
      BusName::from_constant("com.orbo.RIDEviva"), BusPath::from_constant("/com/orbo/RIDEviva"),
      InterfaceName::from_constant("org.freedesktop.DBus.Peer"), MemberName::from_constant("Ping"));
  dbus_message_set_serial(call.get(), 7);
  return call;
}

TEST(MessageTest, ConstructorsFillTheHeaderFields) {
  const Message call = call_to_peer();
  EXPECT_EQ(call.type(), MessageType::method_call);
  EXPECT_EQ(call.path(), "/com/orbo/RIDEviva");
  EXPECT_EQ(call.interface(), "org.freedesktop.DBus.Peer");
  EXPECT_EQ(call.member(), "Ping");
  EXPECT_STREQ(dbus_message_get_destination(call.get()), "com.orbo.RIDEviva");
  EXPECT_EQ(call.sender(), std::nullopt);  // only the bus daemon fills it in

  const Message signal = Message::signal(BusPath::from_constant("/a"), InterfaceName::from_constant("com.example.S"),
                                         MemberName::from_constant("Changed"));
  EXPECT_EQ(signal.type(), MessageType::signal);
  EXPECT_EQ(signal.path(), "/a");
  EXPECT_EQ(signal.interface(), "com.example.S");
  EXPECT_EQ(signal.member(), "Changed");

  const Message reply = Message::method_return(call);
  EXPECT_EQ(reply.type(), MessageType::method_return);
  EXPECT_EQ(dbus_message_get_reply_serial(reply.get()), 7u);
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
    EXPECT_STREQ(dbus_message_get_error_name(error.get()), "org.freedesktop.DBus.Error.UnknownMethod");
    MessageReader reader(error);
    EXPECT_EQ(reader.read_string(), row.carried);
  }
}

TEST(MessageTest, MovedAndSharedMessagesEachReleaseTheirOwnReference) {
  Message original = call_to_peer();
  DBusMessage* raw = original.get();
  Message shared = Message::share(raw);
  Message moved = std::move(original);
  EXPECT_FALSE(original);
  EXPECT_EQ(moved.get(), raw);
  moved = Message();
  EXPECT_EQ(shared.member(), "Ping");  // still alive through the shared reference

  Message adopted = Message::adopt(shared.release());
  EXPECT_FALSE(shared);
  EXPECT_EQ(adopted.get(), raw);
}

TEST(MessageDeathTest, AnEmptyMessageHasNoValidType) {
  const Message empty;
  EXPECT_DEATH((void)empty.type(), exactly("Invalid message type 0"));
}

}  // namespace
}  // namespace dbus
