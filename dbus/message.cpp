#include "dbus/message.hpp"

#include <string>

#include "dbus/fatal.hpp"
#include "dbus/message_writer.hpp"
#include "text/utf8.hpp"

namespace dbus {
namespace {

DBusMessage* or_fatal(DBusMessage* created, std::string_view function) {
  if (created == nullptr) fatal("D-Bus error: " + std::string(function) + " failed");
  return created;
}

using HeaderGetter = const char* (*)(DBusMessage*);

std::optional<std::string_view> header_field(DBusMessage* raw, HeaderGetter get) noexcept {
  if (raw == nullptr) return std::nullopt;
  const char* text = get(raw);
  if (text == nullptr) return std::nullopt;
  std::string_view view(text);
  if (!text::is_utf8(view)) return std::nullopt;
  return view;
}

}  // namespace

Message Message::adopt(DBusMessage* raw) noexcept { return Message(raw); }

Message Message::share(DBusMessage* raw) noexcept {
  if (raw != nullptr) dbus_message_ref(raw);
  return Message(raw);
}

Message Message::method_return(const Message& call) {
  return Message(or_fatal(dbus_message_new_method_return(call.get()), "dbus_message_new_method_return"));
}

Message Message::error_reply(const Message& call, const ErrorName& name, std::string_view text) {
  const CText message(text);
  return Message(or_fatal(dbus_message_new_error(call.get(), name.c_str(), message.c_str()), "dbus_message_new_error"));
}

Message Message::signal(const BusPath& path, const InterfaceName& interface, const MemberName& member) {
  ensure_library_initialised();
  return Message(
      or_fatal(dbus_message_new_signal(path.c_str(), interface.c_str(), member.c_str()), "dbus_message_new_signal"));
}

Message Message::method_call(const BusName& destination, const BusPath& path, const InterfaceName& interface,
                             const MemberName& member) {
  ensure_library_initialised();
  return Message(
      or_fatal(dbus_message_new_method_call(destination.c_str(), path.c_str(), interface.c_str(), member.c_str()),
               "dbus_message_new_method_call"));
}

Message::Message(Message&& other) noexcept : raw_(other.release()) {}

Message& Message::operator=(Message&& other) noexcept {
  if (this != &other) {
    if (raw_ != nullptr) dbus_message_unref(raw_);
    raw_ = other.release();
  }
  return *this;
}

Message::~Message() {
  if (raw_ != nullptr) dbus_message_unref(raw_);
}

DBusMessage* Message::release() noexcept {
  DBusMessage* raw = raw_;
  raw_ = nullptr;
  return raw;
}

MessageType Message::type() const noexcept {
  // An empty Message has no type; libdbus would abort on the null with its own complaint.
  const int code = raw_ != nullptr ? dbus_message_get_type(raw_) : DBUS_MESSAGE_TYPE_INVALID;
  if (code < 1 || code > 4) fatal("Invalid message type " + std::to_string(code));
  return static_cast<MessageType>(code);
}

std::optional<std::string_view> Message::path() const noexcept { return header_field(raw_, dbus_message_get_path); }

std::optional<std::string_view> Message::interface() const noexcept {
  return header_field(raw_, dbus_message_get_interface);
}

std::optional<std::string_view> Message::member() const noexcept { return header_field(raw_, dbus_message_get_member); }

std::optional<std::string_view> Message::sender() const noexcept { return header_field(raw_, dbus_message_get_sender); }

}  // namespace dbus
