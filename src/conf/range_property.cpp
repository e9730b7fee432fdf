#include "src/conf/range_property.hpp"

#include <memory>
#include <string>

#include "contract/range_interface.hpp"
#include "dbus/fatal.hpp"
#include "dbus/names.hpp"
#include "src/conf/config_file.hpp"
#include "src/conf/range_service.hpp"
#include "tree/introspection.hpp"
#include "tree/method_errors.hpp"

namespace src {
namespace {

RangeService& service_of(const tree::PropertyContext& context) {
  const auto* service = context.object().data<std::shared_ptr<RangeService>>();
  if (service == nullptr || !*service) dbus::fatal("Range handler called on an object without a RangeService");
  return **service;
}

tree::MethodError refusal_reply(const RangeRefusal& refusal) {
  switch (refusal.reason) {
    case RangeRefusal::Reason::out_of_range: return tree::invalid_argument(refusal.error.message());
    case RangeRefusal::Reason::radio_failed:
      return tree::MethodError{dbus::standard_error::failed(), refusal.error.message()};
  }
  dbus::fatal("unknown RangeRefusal reason");
}

std::string number(int value) { return std::to_string(value); }

std::string levels() { return number(lowest_level) + " to " + number(highest_level); }

// The level as power, signed: "-20 dBm", "+10 dBm".
std::string power_of(int level) {
  const int power = level + contract::level_to_power;
  return (power > 0 ? "+" : "") + number(power) + " dBm";
}

// What app developers read in the interface document and in what code generators make of it.
std::string range_documentation() {
  namespace standard = dbus::standard_error;
  const int middle = -contract::level_to_power;
  return "The transmit range of Bluetooth LE controller hci0: a level from " + levels() +
         ", the transmit power in dBm plus " + number(-contract::level_to_power) + " (level " + number(lowest_level) +
         " is " + power_of(lowest_level) + ", " + number(middle) + " is " + power_of(middle) + ", " +
         number(highest_level) + " is " + power_of(highest_level) +
         "). Everyone may read it. Only root and the members of the group " BLE_ADMIN_GROUP
         " may set it; the bus policy answers anyone else " +
         standard::access_denied().str() +
         ". A Set applies the level to the radio first, through hcitool-bridge, and is answered once the "
         "controller has answered; requests are served one at a time, in order. Only a level the controller took "
         "is held, written to " +
         std::string(config_file_path) +
         " for the next start and announced with PropertiesChanged, before the reply. A write of the file "
         "that fails is reported on the service's standard error, and the Set still succeeds. A Set fails, "
         "and the level, the radio and the file stay as they were, with " +
         standard::invalid_args().str() + " for a level outside " + levels() + ", and with " +
         standard::failed().str() +
         " when the controller refused the level or the bridge could not apply it (the message says why), or "
         "for a value of another type than INT32 (signature i).";
}

std::string interface_documentation() {
  return "The Bluetooth LE settings that ble-ranged keeps for the device, on the system bus as " +
         std::string(contract::range_bus_name) + ", object " + std::string(contract::range_path) +
         ". Read and set them with org.freedesktop.DBus.Properties; its PropertiesChanged signal announces "
         "every accepted change.";
}

}  // namespace

std::expected<void, tree::MethodError> get_range(dbus::MessageWriter& value, const tree::PropertyContext& context) {
  value.append_int32(service_of(context).range());
  return {};
}

std::expected<void, tree::MethodError> set_range(dbus::MessageReader& value, const tree::PropertyContext& context) {
  // The Properties layer has already refused every variant that does not hold an INT32.
  const auto requested = value.read_int32();
  if (!requested) return std::unexpected(tree::argument_mismatch(requested.error()));
  auto taken = service_of(context).set_range(*requested);
  if (!taken) return std::unexpected(refusal_reply(taken.error()));
  return {};
}

tree::PropertyDef range_property() {
  auto range =
      tree::PropertyDef::named(std::string(contract::range_property_name), dbus::Signature::from_constant("i"));
  range.access = tree::PropertyAccess::readwrite;
  range.getter = &get_range;
  range.setter = &set_range;
  range.annotations = {{std::string(tree::documentation_annotation), range_documentation()}};
  return range;
}

tree::InterfaceDef legacy_configuration_interface() {
  tree::InterfaceDef legacy{.name = dbus::InterfaceName::from_constant(contract::range_interface),
                            .methods = {},
                            .signals = {},
                            .properties = {},
                            .annotations = {{std::string(tree::documentation_annotation), interface_documentation()}}};
  legacy.add_property(range_property());
  return legacy;
}

}  // namespace src
