#include "ctl/range_client.hpp"

#include <optional>
#include <string>
#include <vector>

#include "contract/range_interface.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"
#include "dbus/pump_until.hpp"
#include "tree/properties.hpp"

namespace ctl {
namespace {

const dbus::MethodTarget& service() {
  static const dbus::MethodTarget target{dbus::BusName::from_constant(contract::range_bus_name),
                                         dbus::BusPath::from_constant(contract::range_path)};
  return target;
}

const dbus::InterfaceName& properties() {
  static const auto name = dbus::InterfaceName::from_constant(tree::properties_interface_name);
  return name;
}

// The service's PropertiesChanged: the daemon routes only those sent by the name's owner; the
// receiver takes them whoever the owner is now.
dbus::MatchRule changes(bool with_sender) {
  return dbus::MatchRule{.type = dbus::MessageType::signal,
                         .sender = with_sender ? std::optional(std::string(contract::range_bus_name)) : std::nullopt,
                         .path = std::string(contract::range_path),
                         .interface = std::string(tree::properties_interface_name),
                         .member = "PropertiesChanged"};
}

std::expected<std::int32_t, dbus::BusError> int32_in_variant(const dbus::Message& reply) {
  dbus::MessageReader reader(reply);
  const std::string signature = reader.current_signature();
  auto value = reader.enter_variant();
  if (!value) return std::unexpected(dbus::BusError::failed("the reply holds no variant: " + signature));
  auto level = value->read_int32();
  if (!level) return std::unexpected(dbus::BusError::from(level.error()));
  return *level;
}

// The level a PropertiesChanged of the range interface announces, if it names Range.
std::optional<std::int32_t> announced_range(const dbus::Message& signal) {
  dbus::MessageReader reader(signal);
  if (reader.read_string_view() != contract::range_interface) return std::nullopt;
  auto entries = reader.enter_array();
  if (!entries) return std::nullopt;
  while (auto entry = entries->enter_dict_entry()) {
    if (entry->read_string_view() != contract::range_property_name) continue;
    auto value = entry->enter_variant();
    if (!value) return std::nullopt;
    const auto level = value->read_int32();
    return level ? std::optional(*level) : std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

std::expected<std::int32_t, dbus::BusError> read_range(const dbus::BusConnection& connection) {
  const std::vector<dbus::CallArg> args = {std::string(contract::range_interface),
                                           std::string(contract::range_property_name)};
  auto reply = connection.call(service(), properties(), dbus::MemberName::from_constant("Get"), args,
                               call_timeout);  // BLOCKS up to call_timeout
  if (!reply) return std::unexpected(std::move(reply.error()));
  return int32_in_variant(*reply);
}

std::expected<void, dbus::BusError> set_range(const dbus::BusConnection& connection, std::int32_t level) {
  dbus::Message request = dbus::Message::method_call(service().destination, service().path, properties(),
                                                     dbus::MemberName::from_constant("Set"));
  dbus::MessageWriter writer(request);
  writer.append_string(contract::range_interface);
  writer.append_string(contract::range_property_name);
  writer.with_variant(dbus::Signature::from_constant("i"),
                      [&](dbus::MessageWriter& value) { value.append_int32(level); });
  auto reply = connection.call(request, call_timeout);  // BLOCKS up to call_timeout
  if (!reply) return std::unexpected(std::move(reply.error()));
  return {};
}

std::expected<void, dbus::BusError> watch_range(dbus::BusConnection& connection, int stop,
                                                const RangeListener& listener) {
  if (auto subscribed = connection.add_match(changes(true)); !subscribed) return subscribed;  // BLOCKS up to 5 s
  connection.add_receiver(changes(false), [listener](dbus::Message signal, dbus::BusConnection&) {
    if (const auto level = announced_range(signal)) listener(*level);
    return true;
  });
  auto current = read_range(connection);  // BLOCKS up to call_timeout; signals wait in the queue
  if (!current) return std::unexpected(std::move(current.error()));
  listener(*current);
  return dbus::pump_until_readable(connection, stop);  // BLOCKS until stopped or the bus is lost
}

}  // namespace ctl
