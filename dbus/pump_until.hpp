#pragma once
// A loop that serves a connection's receivers until the caller's own descriptor says stop: a
// signalfd, a pipe, an eventfd.
#include <expected>
#include <functional>

#include "dbus/bus_connection.hpp"
#include "dbus/bus_error.hpp"

namespace dbus {

// Hands every incoming message to its receiver (or answers it with default_reply) until `stop`
// is readable, or a receiver has made `go_on` false, and returns then without reading `stop`.
// Fails only when the connection is lost. BLOCKS until one of these.
std::expected<void, BusError> pump_until_readable(
    BusConnection& connection, int stop, const std::function<bool()>& go_on = [] { return true; });

}  // namespace dbus
