#pragma once
// The range service's state as `ble-rangectl show` reports it: whether it runs and as whom, the
// level it holds, and the level its configuration file keeps for the next start.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "ctl/deadline.hpp"
#include "ctl/range_client.hpp"
#include "dbus/bus_connection.hpp"
#include "dbus/bus_error.hpp"

namespace ctl {

struct ServiceState {
  std::optional<std::string> owner = std::nullopt;   // its unique name, while it runs
  std::optional<std::int32_t> level = std::nullopt;  // as its owner holds it
  // The configuration file's level, read as the service reads it at start-up, or why it cannot
  // be ("couldn't open /etc/wireless/bluetooth.conf: Permission denied (os error 13)").
  std::expected<std::int32_t, std::string> stored = std::unexpected(std::string());
};

// A service that is not running is a state, not a failure; a bus that fails otherwise is.
// BLOCKS until `deadline` on the bus, and on the file system.
std::expected<ServiceState, dbus::BusError> read_service_state(const dbus::BusConnection& connection,
                                                               const Deadline& deadline);

}  // namespace ctl
