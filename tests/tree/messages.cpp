#include "messages.hpp"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "dbus/message_reader.hpp"

namespace tree_test {
namespace {

void check(bool done) {
  if (!done) throw std::runtime_error("libdbus ran out of memory building a test message");
}

// "s:text", "i:42", "y:7", "v:" and one of those; appended with libdbus itself, since our writer
// has no call for a byte.
void append_token(DBusMessageIter& iter, std::string_view token) {
  const std::string value(token.substr(2));
  switch (token.at(0)) {
    case 's': {
      const char* text = value.c_str();
      check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &text));
      break;
    }
    case 'i': {
      const dbus_int32_t number = std::stoi(value);
      check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_INT32, &number));
      break;
    }
    case 'y': {
      const auto byte = static_cast<std::uint8_t>(std::stoi(value));
      check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_BYTE, &byte));
      break;
    }
    case 'v': {
      DBusMessageIter variant;
      check(dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, value.substr(0, 1).c_str(), &variant));
      append_token(variant, value);
      check(dbus_message_iter_close_container(&iter, &variant));
      break;
    }
    default: FAIL() << "unknown token " << token;
  }
}

std::string render(dbus::MessageReader& reader);

// Values up to the end, or up to one the cursor cannot pass (a container's cursor, or one the
// caller hands over).
std::string render_all(dbus::MessageReader&& reader, std::string_view separator) {
  std::string out;
  for (bool first = true; reader.current_type() != dbus::ArgType::nothing; first = false) {
    if (!first) out += separator;
    const std::uint32_t at = reader.position();
    out += render(reader);
    if (reader.position() == at) break;
  }
  return out;
}

std::string render(dbus::MessageReader& reader) {
  switch (reader.current_type()) {
    case dbus::ArgType::string: return "\"" + *reader.read_string() + "\"";
    case dbus::ArgType::int32: return std::to_string(*reader.read_int32());
    case dbus::ArgType::variant: return "<" + render_all(*reader.enter_variant(), ", ") + ">";
    case dbus::ArgType::array: return "[" + render_all(*reader.enter_array(), ", ") + "]";
    case dbus::ArgType::dict_entry: return "{" + render_all(*reader.enter_dict_entry(), ": ") + "}";
    default: return "?" + std::string(1, static_cast<char>(reader.current_type()));
  }
}

std::string arguments(const dbus::Message& message) {
  dbus::MessageReader reader(message);
  if (reader.current_type() == dbus::ArgType::nothing) return "";
  return " " + render_all(std::move(reader), ", ");
}

}  // namespace

dbus::Message call(std::string_view path, std::string_view interface, std::string_view member, const Args& args,
                   const Sent& sent) {
  const std::unique_ptr<DBusMessage, void (*)(DBusMessage*)> raw(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_CALL),
                                                                 dbus_message_unref);
  check(raw != nullptr);
  if (!path.empty()) check(dbus_message_set_path(raw.get(), std::string(path).c_str()));
  if (!interface.empty()) check(dbus_message_set_interface(raw.get(), std::string(interface).c_str()));
  if (!member.empty()) check(dbus_message_set_member(raw.get(), std::string(member).c_str()));
  if (!sent.destination.empty()) check(dbus_message_set_destination(raw.get(), sent.destination.c_str()));
  dbus_message_set_no_reply(raw.get(), sent.no_reply);
  dbus_message_set_serial(raw.get(), sent.serial);
  DBusMessageIter iter;
  dbus_message_iter_init_append(raw.get(), &iter);
  for (const std::string& token : args) append_token(iter, token);

  // Handed over as the bytes the caller's connection would send.
  char* bytes = nullptr;
  int length = 0;
  check(dbus_message_marshal(raw.get(), &bytes, &length));
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  auto message = dbus::Message::from_wire(std::string_view(bytes, static_cast<std::size_t>(length)));
  if (!message) throw std::runtime_error("the test call did not survive its bytes: " + message.error().text());
  return std::move(*message);
}

std::string describe(const dbus::Message& message) {
  switch (message.type()) {
    case dbus::MessageType::method_return: return "return" + arguments(message);
    case dbus::MessageType::error: {
      const auto text = dbus::MessageReader(message).read_string();
      EXPECT_TRUE(text.has_value());
      return "error " + std::string(message.error_name().value_or("")) + ": " + text.value_or("(none)");
    }
    case dbus::MessageType::signal:
      EXPECT_EQ(message.destination(), std::nullopt);
      return "signal " + std::string(message.path().value_or("")) + " " +
             std::string(message.interface().value_or("")) + "." + std::string(message.member().value_or("")) +
             arguments(message);
    default: return "unexpected message type";
  }
}

std::vector<std::string> describe(const std::vector<dbus::Message>& messages) {
  std::vector<std::string> out;
  for (const dbus::Message& message : messages) out.push_back(describe(message));
  return out;
}

}  // namespace tree_test
