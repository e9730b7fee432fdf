#include "bridge/caller.hpp"

#include <chrono>
#include <string>

#include "dbus/call_blocking.hpp"
#include "dbus/message_reader.hpp"

namespace bridge {

std::expected<uid_t, dbus::BusError> caller_uid(DBusConnection* connection, std::string_view sender) {
  // The daemon answers at once; the bound only keeps our reply inside the caller's 5 s.
  const dbus::MethodTarget daemon{
      .destination = dbus::BusName::from_constant("org.freedesktop.DBus"),
      .path = dbus::BusPath::from_constant("/org/freedesktop/DBus"),
      .timeout = std::chrono::seconds(1),
      .connection = connection,
  };
  auto reply = dbus::call_blocking(daemon, dbus::InterfaceName::from_constant("org.freedesktop.DBus"),
                                  dbus::MemberName::from_constant("GetConnectionUnixUser"),
                                  {std::string(sender)});
  if (!reply) return std::unexpected(std::move(reply.error()));
  dbus::MessageReader reader(*reply);
  auto uid = reader.read_uint32();
  if (!uid) return std::unexpected(dbus::BusError::from(uid.error()));
  return static_cast<uid_t>(*uid);
}

}  // namespace bridge
