#pragma once
// Who is calling: the bus daemon vouches for the uid behind a connection.
#include <sys/types.h>

#include <expected>
#include <string_view>

#include <dbus/dbus.h>

#include "dbus/bus_error.hpp"

namespace bridge {

// org.freedesktop.DBus.GetConnectionUnixUser for the unique name `sender`. BLOCKS up to 1 s on
// `connection`; messages arriving meanwhile stay queued for the pump.
std::expected<uid_t, dbus::BusError> caller_uid(DBusConnection* connection, std::string_view sender);

}  // namespace bridge
