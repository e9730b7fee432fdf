#include "ctl/failure.hpp"

#include "contract/range_interface.hpp"
#include "dbus/names.hpp"

namespace ctl {
namespace {

Failure make(int status, std::string_view action, std::string_view why) {
  std::string message = "cannot ";
  message.append(action).append(": ").append(why);
  return Failure{status, std::move(message)};
}

}  // namespace

Failure failure_of(std::string_view action, const dbus::BusError& error) {
  namespace standard = dbus::standard_error;
  const std::string_view name = error.name();
  if (name == standard::invalid_args().view()) return make(exit_status::refused, action, error.message());
  if (name == standard::access_denied().view()) {
    // The daemon's own text names process ids and rules: of no help to the person at the prompt.
    return make(exit_status::not_permitted, action,
                "not permitted by the bus policy (setting the range needs root or the group " BLE_ADMIN_GROUP ")");
  }
  if (name == standard::service_unknown().view() || name == standard::name_has_no_owner().view()) {
    return make(exit_status::service_absent, action,
                "ble-ranged is not running (nobody owns " + std::string(contract::range_bus_name) + " on the bus)");
  }
  return make(exit_status::failed, action, error.message());
}

Failure connection_failure(const dbus::BusError& error) {
  return make(exit_status::failed, "reach the system bus", error.message());
}

}  // namespace ctl
