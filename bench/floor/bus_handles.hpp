#pragma once
// Owners of the plain libdbus references that the floor holds, and its bus set-up: the floor is
// the least a libdbus server can do per request, so it uses libdbus as it is, not our layer.
#include <dbus/dbus.h>

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

namespace bench {

struct MessageUnref {
  void operator()(DBusMessage* message) const noexcept { dbus_message_unref(message); }
};
using MessageRef = std::unique_ptr<DBusMessage, MessageUnref>;

// A private connection must be closed before its last reference goes.
struct PrivateConnectionClose {
  void operator()(DBusConnection* connection) const noexcept {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
};
using PrivateConnection = std::unique_ptr<DBusConnection, PrivateConnectionClose>;

class ErrorRecord {
 public:
  ErrorRecord() noexcept { dbus_error_init(&record_); }
  ~ErrorRecord() { dbus_error_free(&record_); }
  ErrorRecord(const ErrorRecord&) = delete;
  ErrorRecord& operator=(const ErrorRecord&) = delete;

  DBusError* get() noexcept { return &record_; }
  bool is_set() const noexcept { return dbus_error_is_set(&record_); }
  // "name: message", or "unknown error" when libdbus left the record empty.
  std::string text() const;

 private:
  DBusError record_;
};

// Out of memory inside libdbus: nothing sensible is left to do.
[[noreturn]] void out_of_memory(std::string_view call) noexcept;

// A new private connection to the system bus (DBUS_SYSTEM_BUS_ADDRESS), exit-on-disconnect off.
// BLOCKS while connecting and registering.
std::expected<PrivateConnection, std::string> open_system_bus();

// RequestName with the given flags; only primary ownership counts as success. BLOCKS up to 5 s.
std::expected<void, std::string> own_name(DBusConnection* connection, const char* name, std::uint32_t flags);

// Sends and forgets; a message that cannot be queued is out of memory.
void send(DBusConnection* connection, DBusMessage* message) noexcept;

}  // namespace bench
