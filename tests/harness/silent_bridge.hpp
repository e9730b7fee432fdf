#pragma once
// A peer that owns the bridge's bus name and never reads a message: no call to the bridge is
// ever answered, which the bridge itself never does. For the service's reply timeout.
#include "dbus/bus_connection.hpp"
#include "tests/harness/private_bus.hpp"

namespace harness {

class SilentBridge {
 public:
  // Connects and takes the name; throws when the name cannot be had.
  explicit SilentBridge(const PrivateBus& bus);

 private:
  dbus::BusConnection connection_;
};

}  // namespace harness
