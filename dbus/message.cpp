#include "dbus/message.hpp"

#include <climits>
#include <memory>
#include <string>
#include <utility>

#include "dbus/error_record.hpp"
#include "dbus/fatal.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/raw_message.hpp"
#include "text/utf8.hpp"

namespace dbus {

static_assert(static_cast<int>(MessageType::method_call) == DBUS_MESSAGE_TYPE_METHOD_CALL);
static_assert(static_cast<int>(MessageType::method_return) == DBUS_MESSAGE_TYPE_METHOD_RETURN);
static_assert(static_cast<int>(MessageType::error) == DBUS_MESSAGE_TYPE_ERROR);
static_assert(static_cast<int>(MessageType::signal) == DBUS_MESSAGE_TYPE_SIGNAL);

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

Message Message::method_return(const Message& call) {
  return Message(or_fatal(dbus_message_new_method_return(call.raw_), "dbus_message_new_method_return"));
}

Message Message::error_reply(const Message& call, const ErrorName& name, std::string_view text) {
  const CText message(text);
  return Message(or_fatal(dbus_message_new_error(call.raw_, name.c_str(), message.c_str()), "dbus_message_new_error"));
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

std::expected<Message, BusError> Message::from_wire(std::string_view bytes) {
  ensure_library_initialised();
  ErrorRecord record;
  // libdbus takes the length as an int; anything longer is far past the largest message anyway.
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::unexpected(BusError::failed("Message is too long"));
  DBusMessage* raw = dbus_message_demarshal(bytes.data(), static_cast<int>(bytes.size()), record.out());
  if (raw == nullptr) return std::unexpected(record.take());
  return Message(raw);
}

Message::Message(Message&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}

Message& Message::operator=(Message&& other) noexcept {
  if (this != &other) {
    if (raw_ != nullptr) dbus_message_unref(raw_);
    raw_ = std::exchange(other.raw_, nullptr);
  }
  return *this;
}

Message::~Message() {
  if (raw_ != nullptr) dbus_message_unref(raw_);
}

Message Message::another_reference() const noexcept {
  if (raw_ != nullptr) dbus_message_ref(raw_);
  return Message(raw_);
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

std::optional<std::string_view> Message::destination() const noexcept {
  return header_field(raw_, dbus_message_get_destination);
}

std::optional<std::string_view> Message::error_name() const noexcept {
  return header_field(raw_, dbus_message_get_error_name);
}

std::string_view Message::signature() const noexcept {
  const char* types = raw_ != nullptr ? dbus_message_get_signature(raw_) : nullptr;
  return types != nullptr ? std::string_view(types) : std::string_view();
}

std::uint32_t Message::serial() const noexcept { return raw_ != nullptr ? dbus_message_get_serial(raw_) : 0; }

std::uint32_t Message::reply_serial() const noexcept {
  return raw_ != nullptr ? dbus_message_get_reply_serial(raw_) : 0;
}

std::string Message::to_wire() const {
  if (raw_ == nullptr) return {};
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(raw_, &bytes, &length)) fatal("D-Bus error: dbus_message_marshal failed");
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  return std::string(bytes, static_cast<std::size_t>(length));
}

}  // namespace dbus
