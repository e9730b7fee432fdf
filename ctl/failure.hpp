#pragma once
// How ble-rangectl ends when a request fails: the exit status that tells the kinds of failure
// apart for scripts, and the one line it prints. The only place that reads D-Bus error names.
#include <chrono>
#include <string>
#include <string_view>
#include <variant>

#include "dbus/bus_connection.hpp"
#include "dbus/bus_error.hpp"

namespace ctl {

// As ble-rangectl(1) documents them.
namespace exit_status {
inline constexpr int ok = 0;
inline constexpr int failed = 1;           // anything else: no bus, the radio refused, no answer in time
inline constexpr int usage = 2;            // the command line makes no request
inline constexpr int refused = 3;          // the service refused the level (InvalidArgs)
inline constexpr int not_permitted = 4;    // the bus policy refused the call (AccessDenied)
inline constexpr int service_absent = 5;   // nobody owns the service's name, or the bridge's
inline constexpr int outcome_unknown = 6;  // a set sent, but its answer did not come
}  // namespace exit_status

struct Failure {
  int status;
  std::string message;  // without "Error: " and without a line feed
};

// What `action` ("read the range", "set the range to 31") ended in. The error's name decides the
// status; the service's own words are kept where they say why.
Failure failure_of(std::string_view action, const dbus::BusError& error);

// No connection to the bus: the cause is in libdbus's own words, whatever the error's name
// (a socket the account may not open is named AccessDenied too, yet no policy was asked), but
// for a daemon that did not answer within `timeout`.
Failure connection_failure(const dbus::BusError& error, std::chrono::milliseconds timeout);

// What a set of `level` that had no reply ended in: the service's error, or, when the request
// went but its answer did not come (`timeout` passed, the wait was interrupted, the bus went
// away), an outcome not known: the service may yet take the level, or have taken it already.
Failure set_failure(std::string_view level, const std::variant<dbus::BusError, dbus::CallStopped>& end,
                    std::chrono::milliseconds timeout);

// A level the bus cannot carry: as far outside the levels as any the service refuses, and
// refused in the same words.
Failure level_beyond_the_bus(std::string_view level);

}  // namespace ctl
