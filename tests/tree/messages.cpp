#include "messages.hpp"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"

namespace tree_test {
namespace {

// Our writer has no call for a byte, so "y:N" and "v:y:N" are appended by hand.
void append_raw_byte(DBusMessage* message, std::string_view token) {
  DBusMessageIter iter;
  dbus_message_iter_init_append(message, &iter);
  const bool in_variant = token.starts_with("v:");
  const auto value = static_cast<std::uint8_t>(std::stoi(std::string(token.substr(in_variant ? 4 : 2))));
  if (!in_variant) {
    ASSERT_TRUE(dbus_message_iter_append_basic(&iter, DBUS_TYPE_BYTE, &value));
    return;
  }
  DBusMessageIter variant;
  ASSERT_TRUE(dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, "y", &variant));
  ASSERT_TRUE(dbus_message_iter_append_basic(&variant, DBUS_TYPE_BYTE, &value));
  ASSERT_TRUE(dbus_message_iter_close_container(&iter, &variant));
}

void append_token(dbus::MessageWriter& writer, std::string_view token) {
  const std::string_view value = token.substr(2);
  switch (token.at(0)) {
    case 's': writer.append_string(value); break;
    case 'i': writer.append_int32(std::stoi(std::string(value))); break;
    case 'v': {
      const auto contained = dbus::Signature::from_constant(value.substr(0, 1));
      writer.with_variant(contained, [&](dbus::MessageWriter& inner) { append_token(inner, value); });
      break;
    }
    default: FAIL() << "unknown token " << token;
  }
}

std::string render(DBusMessageIter& iter);

std::string render_all(DBusMessageIter& iter, std::string_view separator) {
  std::string out;
  bool first = true;
  while (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_INVALID) {
    if (!first) out += separator;
    first = false;
    out += render(iter);
    dbus_message_iter_next(&iter);
  }
  return out;
}

std::string render(DBusMessageIter& iter) {
  DBusMessageIter inner;
  switch (dbus_message_iter_get_arg_type(&iter)) {
    case DBUS_TYPE_STRING: {
      const char* text = nullptr;
      dbus_message_iter_get_basic(&iter, &text);
      return std::string("\"") + text + "\"";
    }
    case DBUS_TYPE_INT32: {
      dbus_int32_t value = 0;
      dbus_message_iter_get_basic(&iter, &value);
      return std::to_string(value);
    }
    case DBUS_TYPE_BYTE: {
      unsigned char value = 0;
      dbus_message_iter_get_basic(&iter, &value);
      return "byte " + std::to_string(value);
    }
    case DBUS_TYPE_VARIANT: dbus_message_iter_recurse(&iter, &inner); return "<" + render_all(inner, ", ") + ">";
    case DBUS_TYPE_ARRAY: dbus_message_iter_recurse(&iter, &inner); return "[" + render_all(inner, ", ") + "]";
    case DBUS_TYPE_DICT_ENTRY: dbus_message_iter_recurse(&iter, &inner); return "{" + render_all(inner, ": ") + "}";
    default: return "?" + std::string(1, static_cast<char>(dbus_message_iter_get_arg_type(&iter)));
  }
}

std::string arguments(DBusMessage* message) {
  DBusMessageIter iter;
  if (!dbus_message_iter_init(message, &iter)) return "";
  return " " + render_all(iter, ", ");
}

}  // namespace

dbus::Message call(std::string_view path, std::string_view interface, std::string_view member, const Args& args) {
  DBusMessage* raw = dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_CALL);
  if (!path.empty()) dbus_message_set_path(raw, std::string(path).c_str());
  if (!interface.empty()) dbus_message_set_interface(raw, std::string(interface).c_str());
  if (!member.empty()) dbus_message_set_member(raw, std::string(member).c_str());
  dbus_message_set_serial(raw, call_serial);
  dbus::Message message = dbus::Message::adopt(raw);

  // A fresh append cursor per argument, since one cursor does not see what another appended.
  for (const std::string& token : args) {
    if (token.starts_with("y:") || token.starts_with("v:y:")) {
      append_raw_byte(raw, token);
    } else {
      dbus::MessageWriter writer(message);
      append_token(writer, token);
    }
  }
  return message;
}

std::string describe(const dbus::Message& message) {
  DBusMessage* raw = message.get();
  switch (dbus_message_get_type(raw)) {
    case DBUS_MESSAGE_TYPE_METHOD_RETURN: return "return" + arguments(raw);
    case DBUS_MESSAGE_TYPE_ERROR: {
      const char* text = nullptr;
      EXPECT_TRUE(dbus_message_get_args(raw, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID));
      return std::string("error ") + dbus_message_get_error_name(raw) + ": " + (text ? text : "(none)");
    }
    case DBUS_MESSAGE_TYPE_SIGNAL:
      EXPECT_EQ(dbus_message_get_destination(raw), nullptr);
      return std::string("signal ") + dbus_message_get_path(raw) + " " + dbus_message_get_interface(raw) + "." +
             dbus_message_get_member(raw) + arguments(raw);
    default: return "unexpected message type";
  }
}

std::vector<std::string> describe(const std::vector<dbus::Message>& messages) {
  std::vector<std::string> out;
  for (const dbus::Message& message : messages) out.push_back(describe(message));
  return out;
}

}  // namespace tree_test
