#include "ctl/failure.hpp"

#include "contract/bridge_interface.hpp"
#include "contract/range_interface.hpp"
#include "ctl/time_span.hpp"
#include "dbus/names.hpp"

namespace ctl {
namespace {

Failure make(int status, std::string_view action, std::string_view why) {
  std::string message = "cannot ";
  message.append(action).append(": ").append(why);
  return Failure{status, std::move(message)};
}

// The bus daemon's answer to a call to a name nobody owns, as the service passes on what its
// call to the bridge ended in.
bool names_an_absent_bridge(std::string_view message) {
  return message.find(contract::bridge_bus_name) != std::string_view::npos &&
         message.find("was not provided by any .service files") != std::string_view::npos;
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
  if (name == standard::failed().view() && names_an_absent_bridge(error.message())) {
    return make(exit_status::service_absent, action,
                "ble-ranged cannot reach the radio: hcitool-bridge is not running (nobody owns " +
                    std::string(contract::bridge_bus_name) + " on the bus)");
  }
  return make(exit_status::failed, action, error.message());
}

Failure connection_failure(const dbus::BusError& error, std::chrono::milliseconds timeout) {
  if (error.name() == dbus::standard_error::no_reply().view()) {
    return make(exit_status::failed, "reach the system bus",
                "the bus daemon did not answer within " + span_text(timeout));
  }
  return make(exit_status::failed, "reach the system bus", error.message());
}

Failure set_failure(std::string_view level, const std::variant<dbus::BusError, dbus::CallStopped>& end,
                    std::chrono::milliseconds timeout) {
  const auto unknown = [level](std::string_view why) {
    std::string message = "the range may or may not be set to ";
    message.append(level).append(": ").append(why).append(" (\"ble-rangectl get\" shows the level it holds)");
    return Failure{exit_status::outcome_unknown, std::move(message)};
  };
  if (std::holds_alternative<dbus::CallStopped>(end)) return unknown("interrupted before ble-ranged answered");
  const auto& error = std::get<dbus::BusError>(end);
  if (error.name() == dbus::standard_error::no_reply().view()) {
    return unknown("ble-ranged did not answer within " + span_text(timeout));
  }
  if (error.name() == dbus::standard_error::disconnected().view()) {
    return unknown("the bus went away before ble-ranged answered");
  }
  return failure_of("set the range to " + std::string(level), error);
}

Failure level_beyond_the_bus(std::string_view level) {
  const std::string levels =
      "[" + std::to_string(contract::lowest_level) + ", " + std::to_string(contract::highest_level) + "]";
  return make(exit_status::refused, "set the range to " + std::string(level),
              "Invalid argument Bluetooth LE range " + std::string(level) + " not between " + levels);
}

}  // namespace ctl
