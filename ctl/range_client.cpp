#include "ctl/range_client.hpp"

#include <memory>
#include <string_view>
#include <vector>

#include "contract/range_interface.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"
#include "dbus/pump_until.hpp"
#include "tree/properties.hpp"

namespace ctl {
namespace {

constexpr std::string_view bus_daemon_name = "org.freedesktop.DBus";

const dbus::BusPath& service_path() {
  static const auto path = dbus::BusPath::from_constant(contract::range_path);
  return path;
}

const dbus::InterfaceName& properties() {
  static const auto name = dbus::InterfaceName::from_constant(tree::properties_interface_name);
  return name;
}

// The service's PropertiesChanged: the daemon routes only those sent by the name's owner, whoever
// that is when each is sent; the receiver takes them whoever sent them.
dbus::MatchRule changes(bool with_sender) {
  return dbus::MatchRule{.type = dbus::MessageType::signal,
                         .sender = with_sender ? std::optional(std::string(contract::range_bus_name)) : std::nullopt,
                         .path = std::string(contract::range_path),
                         .interface = std::string(tree::properties_interface_name),
                         .member = "PropertiesChanged"};
}

// The daemon's NameOwnerChanged for the service's name alone. The daemon's own messages carry its
// well-known name as their sender, so the receiver's rule can name it too, and a signal that
// another client sends us directly is not taken for it.
dbus::MatchRule owner_changes() {
  return dbus::MatchRule{.type = dbus::MessageType::signal,
                         .sender = std::string(bus_daemon_name),
                         .interface = std::string(bus_daemon_name),
                         .member = "NameOwnerChanged",
                         .arg0 = std::string(contract::range_bus_name)};
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

// NameOwnerChanged(name, old owner, new owner): what it tells, the stop before the start when
// one owner replaced another; a return is followed by its level. BLOCKS up to `timeout` when the
// service returned.
void tell_owner_change(const dbus::Message& signal, const dbus::BusConnection& connection, milliseconds timeout,
                       const WatchListener& listener) {
  dbus::MessageReader reader(signal);
  const auto name = reader.read_string_view();
  const auto old_owner = reader.read_string();
  const auto new_owner = reader.read_string();
  if (!name || !old_owner || !new_owner) return;
  if (!old_owner->empty() && !listener(ServiceStopped{})) return;
  if (new_owner->empty() || !listener(ServiceStarted{*new_owner})) return;
  // Asked of the new owner itself, so the level is the one it holds; changes it announces
  // meanwhile wait in the queue and are told after it.
  auto level = read_range(connection, timeout, *new_owner);
  if (level) {
    listener(LevelSeen{*level});
  } else if (!is_absent(level.error())) {
    listener(LevelUnreadable{std::string(level.error().message())});
  }
}

}  // namespace

bool is_absent(const dbus::BusError& error) {
  namespace standard = dbus::standard_error;
  return error.name() == standard::service_unknown().view() || error.name() == standard::name_has_no_owner().view();
}

std::expected<std::optional<std::string>, dbus::BusError> service_owner(const dbus::BusConnection& connection,
                                                                        milliseconds timeout) {
  return connection.name_owner(dbus::BusName::from_constant(contract::range_bus_name), timeout);  // BLOCKS
}

std::expected<std::int32_t, dbus::BusError> read_range(const dbus::BusConnection& connection, milliseconds timeout,
                                                       const std::optional<std::string>& owner) {
  auto destination = dbus::BusName::from_text(owner.value_or(std::string(contract::range_bus_name)));
  if (!destination) return std::unexpected(dbus::BusError::failed(destination.error()));
  const std::vector<dbus::CallArg> args = {std::string(contract::range_interface),
                                           std::string(contract::range_property_name)};
  auto reply = connection.call({*destination, service_path()}, properties(), dbus::MemberName::from_constant("Get"),
                               args, timeout);  // BLOCKS up to `timeout`
  if (!reply) return std::unexpected(std::move(reply.error()));
  return int32_in_variant(*reply);
}

std::expected<void, std::variant<dbus::BusError, dbus::CallStopped>> set_range(dbus::BusConnection& connection,
                                                                               std::int32_t level, milliseconds timeout,
                                                                               int stop) {
  dbus::Message request =
      dbus::Message::method_call(dbus::BusName::from_constant(contract::range_bus_name), service_path(), properties(),
                                 dbus::MemberName::from_constant("Set"));
  dbus::MessageWriter writer(request);
  writer.append_string(contract::range_interface);
  writer.append_string(contract::range_property_name);
  writer.with_variant(dbus::Signature::from_constant("i"),
                      [&](dbus::MessageWriter& value) { value.append_int32(level); });
  auto reply = connection.call_until_readable(request, timeout, stop);  // BLOCKS up to `timeout`
  if (!reply) return std::unexpected(std::move(reply.error()));
  return {};
}

std::expected<void, dbus::BusError> watch_range(dbus::BusConnection& connection, int stop, const Deadline& start_by,
                                                milliseconds timeout, const WatchListener& listener) {
  for (const auto& rule : {changes(true), owner_changes()}) {
    if (auto subscribed = connection.add_match(rule, start_by.left()); !subscribed) return subscribed;  // BLOCKS
  }
  // Shared with the receivers, which the connection may keep after we return.
  auto going = std::make_shared<bool>(true);
  const WatchListener tell = [listener, going](const WatchEvent& event) {
    if (*going) *going = listener(event);
    return *going;
  };
  connection.add_receiver(changes(false), [tell](dbus::Message signal, dbus::BusConnection&) {
    if (const auto level = announced_range(signal)) tell(LevelSeen{*level});
    return true;
  });
  connection.add_receiver(owner_changes(), [tell, timeout](dbus::Message signal, dbus::BusConnection& bus) {
    tell_owner_change(signal, bus, timeout, tell);  // BLOCKS up to `timeout` when the service returned
    return true;
  });
  auto current = read_range(connection, start_by.left());  // BLOCKS; signals wait in the queue
  if (!current && !is_absent(current.error())) return std::unexpected(std::move(current.error()));
  tell(current ? WatchEvent(LevelSeen{*current}) : WatchEvent(ServiceAbsent{}));
  // BLOCKS until stopped, the listener says no more, or the bus is lost.
  return dbus::pump_until_readable(connection, stop, [going] { return *going; });
}

}  // namespace ctl
