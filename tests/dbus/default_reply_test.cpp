#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/raw_message.hpp"

namespace dbus {
namespace {

// A message of the given type as if it had come off the bus, with a serial to answer and a sender.
Message incoming(MessageType type, const char* interface, const char* member) {
  Message message = RawMessage::adopt(dbus_message_new(static_cast<int>(type)));
  if (type == MessageType::method_return || type == MessageType::error) {
    dbus_message_set_reply_serial(RawMessage::get(message), 1);
    if (type == MessageType::error) dbus_message_set_error_name(RawMessage::get(message), "com.example.Error.E");
  } else {
    dbus_message_set_path(RawMessage::get(message), "/com/orbo/RIDEviva");
    dbus_message_set_member(RawMessage::get(message), member);
  }
  if (interface != nullptr) dbus_message_set_interface(RawMessage::get(message), interface);
  dbus_message_set_serial(RawMessage::get(message), 11);
  dbus_message_set_sender(RawMessage::get(message), ":1.7");
  return message;
}

TEST(DefaultReplyTest, AnswersPeerWhateverTheTypeAndRefusesOtherCalls) {
  struct Row {
    std::string_view name;
    MessageType type;
    const char* interface;
    const char* member;
    std::optional<MessageType> reply;
    std::string_view error_name;
    std::string_view error_text;
  };
  const Row rows[] = {
      {"Peer Ping signal", MessageType::signal, "org.freedesktop.DBus.Peer", "Ping", MessageType::method_return, "",
       ""},
      {"Peer Ping call", MessageType::method_call, "org.freedesktop.DBus.Peer", "Ping", MessageType::method_return, "",
       ""},
      {"Peer signal, other member", MessageType::signal, "org.freedesktop.DBus.Peer", "Pong", MessageType::error,
       "org.freedesktop.DBus.Error.UnknownMethod", "Method does not exist"},
      {"Peer in other case", MessageType::method_call, "org.freedesktop.DBus.peer", "Ping", MessageType::error,
       "org.freedesktop.DBus.Error.UnknownMethod", "Path, Interface, or Method does not exist"},
      {"call on another interface", MessageType::method_call, "com.orbo.Configuration.Legacy", "Ping",
       MessageType::error, "org.freedesktop.DBus.Error.UnknownMethod", "Path, Interface, or Method does not exist"},
      {"call without interface", MessageType::method_call, nullptr, "Ping", MessageType::error,
       "org.freedesktop.DBus.Error.UnknownMethod", "Path, Interface, or Method does not exist"},
      {"name-ownership signal", MessageType::signal, "org.freedesktop.DBus", "NameAcquired", std::nullopt, "", ""},
      {"stray method return", MessageType::method_return, nullptr, nullptr, std::nullopt, "", ""},
      {"stray error", MessageType::error, nullptr, nullptr, std::nullopt, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name));
    const Message message = incoming(row.type, row.interface, row.member);
    const std::optional<Message> reply = default_reply(message);
    ASSERT_EQ(reply.has_value(), row.reply.has_value());
    if (!reply) continue;
    EXPECT_EQ(reply->type(), *row.reply);
    EXPECT_STREQ(dbus_message_get_destination(RawMessage::get(*reply)), ":1.7");
    EXPECT_EQ(dbus_message_get_reply_serial(RawMessage::get(*reply)), 11u);
    MessageReader reader(*reply);
    if (*row.reply == MessageType::error) {
      EXPECT_STREQ(dbus_message_get_error_name(RawMessage::get(*reply)), std::string(row.error_name).c_str());
      EXPECT_EQ(reader.read_string(), row.error_text);
    }
    EXPECT_EQ(reader.current_type(), ArgType::nothing);
  }
}

TEST(DefaultReplyTest, GetMachineIdAnswersWithTheLocalMachineId) {
  char* expected = dbus_get_local_machine_id();
  ASSERT_NE(expected, nullptr);
  const std::string machine_id = expected;
  dbus_free(expected);

  const auto reply = default_reply(incoming(MessageType::signal, "org.freedesktop.DBus.Peer", "GetMachineId"));
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->type(), MessageType::method_return);
  MessageReader reader(*reply);
  EXPECT_EQ(reader.read_string(), machine_id);
  EXPECT_EQ(machine_id.size(), 32u);
}

TEST(MatchRuleTest, SetCriteriaMustAllMatchAndUnsetOnesMatchAnything) {
  const Message signal = incoming(MessageType::signal, "com.example.S", "Changed");
  const char* name = "com.orbo.RIDEviva";
  dbus_message_append_args(RawMessage::get(signal), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
  const Message call = incoming(MessageType::method_call, nullptr, "Get");
  struct Row {
    std::string_view name;
    MatchRule rule;
    bool signal;
    bool call;
  };
  const Row rows[] = {
      {"empty rule", {}, true, true},
      {"method calls", {.type = MessageType::method_call}, false, true},
      {"signals", {.type = MessageType::signal}, true, false},
      {"errors", {.type = MessageType::error}, false, false},
      {"sender", {.sender = ":1.7"}, true, true},
      {"other sender", {.sender = ":1.8"}, false, false},
      {"interface", {.interface = "com.example.S"}, true, false},  // the call has none
      {"signal and member", {.type = MessageType::signal, .member = "Changed"}, true, false},
      {"path", {.path = "/com/orbo/RIDEviva"}, true, true},
      {"other path", {.path = "/com/orbo"}, false, false},
      {"first argument", {.arg0 = "com.orbo.RIDEviva"}, true, false},  // the call has none
      {"other first argument", {.arg0 = "com.orbo"}, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name));
    EXPECT_EQ(row.rule.matches(signal), row.signal);
    EXPECT_EQ(row.rule.matches(call), row.call);
  }
}

}  // namespace
}  // namespace dbus
