#pragma once
// The one owner of a libdbus message reference, and the constructors of outgoing messages.
#include <dbus/dbus.h>

#include <optional>
#include <string_view>

#include "dbus/names.hpp"

namespace dbus {

enum class MessageType : int { method_call = 1, method_return = 2, error = 3, signal = 4 };

class Message {
 public:
  Message() noexcept = default;
  // Takes over a reference the caller already holds (from dbus_*_new_*, pop_message, ...).
  static Message adopt(DBusMessage* raw) noexcept;
  // Adds a reference of its own.
  static Message share(DBusMessage* raw) noexcept;

  // Out of memory in libdbus is fatal in each of these ("D-Bus error: dbus_message_new_... failed").
  static Message method_return(const Message& call);
  static Message error_reply(const Message& call, const ErrorName& name, std::string_view text);
  static Message signal(const BusPath& path, const InterfaceName& interface, const MemberName& member);
  static Message method_call(const BusName& destination, const BusPath& path, const InterfaceName& interface,
                             const MemberName& member);

  Message(Message&& other) noexcept;
  Message& operator=(Message&& other) noexcept;
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;
  ~Message();

  DBusMessage* get() const noexcept { return raw_; }
  DBusMessage* release() noexcept;
  explicit operator bool() const noexcept { return raw_ != nullptr; }

  // A type outside 1..4 is fatal ("Invalid message type 7").
  MessageType type() const noexcept;
  // Header fields; a missing field or one that is not UTF-8 is absent. Valid while the message lives.
  std::optional<std::string_view> path() const noexcept;
  std::optional<std::string_view> interface() const noexcept;
  std::optional<std::string_view> member() const noexcept;
  std::optional<std::string_view> sender() const noexcept;

 private:
  explicit Message(DBusMessage* raw) noexcept : raw_(raw) {}
  DBusMessage* raw_ = nullptr;
};

}  // namespace dbus
