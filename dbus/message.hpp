#pragma once
// The one owner of a libdbus message reference, and the constructors of outgoing messages.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "dbus/bus_error.hpp"
#include "dbus/names.hpp"

// libdbus's own type, named the way its typedef names it; only dbus/ sees its definition.
struct DBusMessage;

namespace dbus {

// libdbus's numbers for the four kinds (checked against its header in message.cpp).
enum class MessageType : int { method_call = 1, method_return = 2, error = 3, signal = 4 };

class Message {
 public:
  Message() noexcept = default;

  // Out of memory in libdbus is fatal in each of these ("D-Bus error: dbus_message_new_... failed").
  static Message method_return(const Message& call);
  static Message error_reply(const Message& call, const ErrorName& name, std::string_view text);
  static Message signal(const BusPath& path, const InterfaceName& interface, const MemberName& member);
  static Message method_call(const BusName& destination, const BusPath& path, const InterfaceName& interface,
                             const MemberName& member);
  // A message exactly as it would arrive over the bus, serial included: whatever a client may
  // send, odd header fields and argument types too, once libdbus's own checks of the bytes pass.
  // libdbus's reason ("Message is corrupted (...)") otherwise.
  static std::expected<Message, BusError> from_wire(std::string_view bytes);

  Message(Message&& other) noexcept;
  Message& operator=(Message&& other) noexcept;
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  ~Message();

  // A second owner of the same message, for a handler that answers a call after it returned.
  Message another_reference() const noexcept;
  explicit operator bool() const noexcept { return raw_ != nullptr; }

  // A type outside 1..4 is fatal ("Invalid message type 7").
  MessageType type() const noexcept;
  // Header fields; a missing field or one that is not UTF-8 is absent. Valid while the message lives.
  std::optional<std::string_view> path() const noexcept;
  std::optional<std::string_view> interface() const noexcept;
  std::optional<std::string_view> member() const noexcept;
  std::optional<std::string_view> sender() const noexcept;
  std::optional<std::string_view> destination() const noexcept;
  std::optional<std::string_view> error_name() const noexcept;
  // The types of all arguments ("ssv"); empty for none.
  std::string_view signature() const noexcept;
  // The sender's number for the message, 0 until a connection sends it; and for a reply, the
  // number of the call it answers (0 for calls and signals).
  std::uint32_t serial() const noexcept;
  std::uint32_t reply_serial() const noexcept;

  // The bytes that go over the wire for it. Out of memory is fatal.
  std::string to_wire() const;

 private:
  friend struct RawMessage;  // dbus/raw_message.hpp, for the rest of the bus layer
  explicit Message(DBusMessage* raw) noexcept : raw_(raw) {}
  DBusMessage* raw_ = nullptr;
};

}  // namespace dbus
