#pragma once
// The range service as a client sees it: Range read, set and watched over a bus connection.
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>

#include "dbus/bus_connection.hpp"
#include "dbus/bus_error.hpp"

namespace ctl {

// Long enough for a Set queued behind others, each of which may wait 5 s for the radio.
inline constexpr std::chrono::seconds call_timeout{25};

// Properties.Get. BLOCKS up to call_timeout.
std::expected<std::int32_t, dbus::BusError> read_range(const dbus::BusConnection& connection);

// Properties.Set with any level: the service alone decides which it takes. BLOCKS up to
// call_timeout; the service answers once the radio has.
std::expected<void, dbus::BusError> set_range(const dbus::BusConnection& connection, std::int32_t level);

using RangeListener = std::function<void(std::int32_t level)>;

// Tells `listener` the current level, then every level the service announces, until `stop` is
// readable. It subscribes before it reads, so no change is lost in between; one made just then
// may be told twice. BLOCKS until `stop` or the loss of the bus.
std::expected<void, dbus::BusError> watch_range(dbus::BusConnection& connection, int stop,
                                                const RangeListener& listener);

}  // namespace ctl
