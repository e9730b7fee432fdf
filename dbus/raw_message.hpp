#pragma once
// The libdbus message behind a Message. For the bus layer's own files (and its own tests) only:
// everything outside dbus/ works with Message.
#include <dbus/dbus.h>

#include "dbus/message.hpp"

namespace dbus {

struct RawMessage {
  // Takes over a reference the caller already holds (from dbus_*_new_*, pop_message, ...);
  // a null one makes an empty Message.
  static Message adopt(DBusMessage* raw) noexcept { return Message(raw); }
  // Borrowed: the Message keeps its reference.
  static DBusMessage* get(const Message& message) noexcept { return message.raw_; }
};

}  // namespace dbus
