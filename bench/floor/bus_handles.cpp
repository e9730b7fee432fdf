#include "bench/floor/bus_handles.hpp"

#include <cstdio>
#include <cstdlib>

namespace bench {

std::string ErrorRecord::text() const {
  if (!is_set()) return "unknown error";
  std::string out = record_.name ? record_.name : "";
  out += ": ";
  out += record_.message ? record_.message : "";
  return out;
}

void out_of_memory(std::string_view call) noexcept {
  std::fprintf(stderr, "D-Bus error: %.*s failed\n", static_cast<int>(call.size()), call.data());
  std::abort();
}

std::expected<PrivateConnection, std::string> open_system_bus() {
  ErrorRecord error;
  PrivateConnection connection{dbus_bus_get_private(DBUS_BUS_SYSTEM, error.get())};
  if (!connection) return std::unexpected(error.text());
  dbus_connection_set_exit_on_disconnect(connection.get(), false);
  return connection;
}

std::expected<void, std::string> own_name(DBusConnection* connection, const char* name, std::uint32_t flags) {
  ErrorRecord error;
  const int reply = dbus_bus_request_name(connection, name, flags, error.get());
  if (reply == -1) return std::unexpected(error.text());
  if (reply != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER && reply != DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER)
    return std::unexpected(std::string(name) + " is owned by another process (RequestName answered " +
                           std::to_string(reply) + ")");
  return {};
}

void send(DBusConnection* connection, DBusMessage* message) noexcept {
  if (!dbus_connection_send(connection, message, nullptr)) out_of_memory("dbus_connection_send");
}

}  // namespace bench
