#include "tests/harness/message_builder.hpp"

#include <dbus/dbus.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <utility>

namespace harness {
namespace args {

Arg s(std::string text) { return {.signature = "s", .text = std::move(text)}; }
Arg o(std::string path) { return {.signature = "o", .text = std::move(path)}; }
Arg i(std::int32_t value) { return {.signature = "i", .number = value}; }
Arg u(std::uint32_t value) { return {.signature = "u", .number = value}; }
Arg y(std::uint8_t value) { return {.signature = "y", .number = value}; }
Arg v(Arg value) { return {.signature = "v", .items = {std::move(value)}}; }
Arg a(std::string element_signature, std::vector<Arg> elements) {
  return {.signature = "a" + element_signature, .items = std::move(elements)};
}
Arg e(Arg key, Arg value) {
  std::string signature = "{" + key.signature + value.signature + "}";
  return {.signature = std::move(signature), .items = {std::move(key), std::move(value)}};
}

}  // namespace args
namespace {

// Our messages are built with libdbus itself: dbus/ writes only what a well-behaved sender
// writes, and these are also what none would.
void check(bool done) {
  if (!done) throw std::runtime_error("libdbus refused a test message or ran out of memory");
}

void append(DBusMessageIter& iter, const Arg& arg);

void append_container(DBusMessageIter& iter, int type, const char* contained, const std::vector<Arg>& items) {
  DBusMessageIter inner;
  check(dbus_message_iter_open_container(&iter, type, contained, &inner));
  for (const Arg& item : items) append(inner, item);
  check(dbus_message_iter_close_container(&iter, &inner));
}

void append(DBusMessageIter& iter, const Arg& arg) {
  const int code = arg.signature.at(0);
  switch (code) {
    case DBUS_TYPE_STRING:
    case DBUS_TYPE_OBJECT_PATH: {
      const char* text = arg.text.c_str();
      check(dbus_message_iter_append_basic(&iter, code, &text));
      break;
    }
    case DBUS_TYPE_INT32: {
      const auto value = static_cast<dbus_int32_t>(arg.number);
      check(dbus_message_iter_append_basic(&iter, code, &value));
      break;
    }
    case DBUS_TYPE_UINT32: {
      const auto value = static_cast<dbus_uint32_t>(arg.number);
      check(dbus_message_iter_append_basic(&iter, code, &value));
      break;
    }
    case DBUS_TYPE_BYTE: {
      const auto value = static_cast<unsigned char>(arg.number);
      check(dbus_message_iter_append_basic(&iter, code, &value));
      break;
    }
    case DBUS_TYPE_VARIANT: append_container(iter, code, arg.items.at(0).signature.c_str(), arg.items); break;
    case DBUS_TYPE_ARRAY: append_container(iter, code, arg.signature.c_str() + 1, arg.items); break;
    case DBUS_DICT_ENTRY_BEGIN_CHAR: append_container(iter, DBUS_TYPE_DICT_ENTRY, nullptr, arg.items); break;
    default: throw std::invalid_argument("no test argument of type " + arg.signature);
  }
}

// Unique across a test's threads and far above what a connection counts up from 1 itself.
std::uint32_t next_serial() {
  static std::atomic<std::uint32_t> serial{1u << 30};
  return serial++;
}

void set_header(DBusMessage* raw, const Shape& shape) {
  if (!shape.destination.empty()) check(dbus_message_set_destination(raw, shape.destination.c_str()));
  if (!shape.path.empty()) check(dbus_message_set_path(raw, shape.path.c_str()));
  if (!shape.interface.empty()) check(dbus_message_set_interface(raw, shape.interface.c_str()));
  if (!shape.member.empty()) check(dbus_message_set_member(raw, shape.member.c_str()));
  if (!shape.error_name.empty()) check(dbus_message_set_error_name(raw, shape.error_name.c_str()));
  if (shape.reply_serial != 0) check(dbus_message_set_reply_serial(raw, shape.reply_serial));
  dbus_message_set_no_reply(raw, shape.no_reply);
  dbus_message_set_serial(raw, shape.serial != 0 ? shape.serial : next_serial());
}

}  // namespace

dbus::Message build(const Shape& shape) {
  const std::unique_ptr<DBusMessage, void (*)(DBusMessage*)> raw(dbus_message_new(shape.type), dbus_message_unref);
  check(raw != nullptr);
  set_header(raw.get(), shape);
  DBusMessageIter iter;
  dbus_message_iter_init_append(raw.get(), &iter);
  for (const Arg& arg : shape.args) append(iter, arg);

  char* bytes = nullptr;
  int length = 0;
  check(dbus_message_marshal(raw.get(), &bytes, &length));
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  auto message = dbus::Message::from_wire(std::string_view(bytes, static_cast<std::size_t>(length)));
  if (!message) throw std::runtime_error("a test message did not survive its bytes: " + message.error().text());
  return std::move(*message);
}

}  // namespace harness
