#pragma once
// The range service as a client sees it: who owns its name, and Range read, set and watched
// over a bus connection. Every call waits at most the caller's timeout for its answer.
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "ctl/deadline.hpp"
#include "dbus/bus_connection.hpp"
#include "dbus/bus_error.hpp"

namespace ctl {

using std::chrono::milliseconds;

// Whether the bus error says that nobody owns the service's name (or the unique name it had).
bool is_absent(const dbus::BusError& error);

// The unique name that owns the service's name, or nothing. BLOCKS up to `timeout`.
std::expected<std::optional<std::string>, dbus::BusError> service_owner(const dbus::BusConnection& connection,
                                                                        milliseconds timeout);

// Properties.Get from the owner of the service's name, or from the connection `owner` names.
// BLOCKS up to `timeout`.
std::expected<std::int32_t, dbus::BusError> read_range(const dbus::BusConnection& connection, milliseconds timeout,
                                                       const std::optional<std::string>& owner = std::nullopt);

// Properties.Set with any level: the service alone decides which it takes. Its answer is
// waited for until `timeout` or until `stop` is readable (dbus::CallStopped); either way the
// request has gone, and its outcome is not known. BLOCKS up to `timeout`; the service answers
// once the radio has.
std::expected<void, std::variant<dbus::BusError, dbus::CallStopped>> set_range(dbus::BusConnection& connection,
                                                                               std::int32_t level, milliseconds timeout,
                                                                               int stop);

// What a watch tells, in the order it happened.
struct LevelSeen {
  std::int32_t level;
};
struct ServiceStopped {};
struct ServiceStarted {
  std::string unique_name;
};
// The service was not running when the watch began.
struct ServiceAbsent {};
// The service came back, but its level could not be read (other than by its going again).
struct LevelUnreadable {
  std::string why;
};
using WatchEvent = std::variant<LevelSeen, ServiceStopped, ServiceStarted, ServiceAbsent, LevelUnreadable>;
// False ends the watch (its output cannot be written, say); nothing more is told then.
using WatchListener = std::function<bool(const WatchEvent& event)>;

// Tells `listener` the current level (or that the service is not running), then every level
// the service announces, and when the service stops and starts again (reading its level then),
// until `stop` is readable or the listener says no more. It subscribes before it reads, so no
// change is lost in between; one made just then may be told twice. BLOCKS until then or the
// loss of the bus: until `start_by` until the first event is told, each read after it up to
// `timeout`.
std::expected<void, dbus::BusError> watch_range(dbus::BusConnection& connection, int stop, const Deadline& start_by,
                                                milliseconds timeout, const WatchListener& listener);

}  // namespace ctl
