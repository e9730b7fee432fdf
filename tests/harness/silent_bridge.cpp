#include "tests/harness/silent_bridge.hpp"

#include <stdexcept>
#include <string>

#include "tests/harness/bridge.hpp"
#include "tests/harness/bus_client.hpp"

namespace harness {

SilentBridge::SilentBridge(const PrivateBus& bus) : connection_(connect(bus.address())) {
  const auto owned =
      connection_.request_name(dbus::BusName::from_constant(bridge_bus_name), dbus::name_flag::do_not_queue);
  if (!owned) throw std::runtime_error("RequestName: " + owned.error().text());
  if (*owned != dbus::name_reply::primary_owner) throw std::runtime_error("the bridge's name has another owner");
}

}  // namespace harness
