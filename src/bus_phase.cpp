#include "src/bus_phase.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "contract/bridge_interface.hpp"
#include "contract/range_interface.hpp"
#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/names.hpp"
#include "src/conf/config_file.hpp"
#include "src/conf/range_property.hpp"
#include "src/supervisor_notice.hpp"
#include "src/tx_power_command.hpp"

namespace src {
namespace {

// Replace an existing owner that allows it; otherwise wait in the queue rather than give up.
constexpr std::uint32_t request_name_flags = dbus::name_flag::replace_existing;
constexpr std::chrono::milliseconds pump_wait{1000};
constexpr std::chrono::milliseconds daemon_timeout{5000};

// Why the bridge may not hold the level: each starts the log line of a failed re-send.
constexpr std::string_view bridge_replaced = "hcitool-bridge has a new owner";
constexpr std::string_view bridge_gone = "hcitool-bridge left the bus";

// A bridge that has just left is most likely being restarted: its successor's arrival is the
// moment to send the level, so the first try without it waits that much.
constexpr std::chrono::milliseconds after_bridge_left{500};

dbus::MatchRule bridge_owner_changes() {
  return {.type = dbus::MessageType::signal,
          .sender = std::string(dbus::bus_daemon_name),
          .path = "/org/freedesktop/DBus",
          .interface = "org.freedesktop.DBus",
          .member = "NameOwnerChanged",
          .arg0 = std::string(contract::bridge_bus_name)};
}

// NameOwnerChanged(name, old owner, new owner): the new owner, empty when the name was dropped.
std::optional<std::string> new_owner(const dbus::Message& signal) {
  dbus::MessageReader reader(signal);
  for (int skipped = 0; skipped < 2; ++skipped)
    if (!reader.read_string_view()) return std::nullopt;
  auto owner = reader.read_string();
  if (!owner) return std::nullopt;
  return std::move(*owner);
}

void owner_changed(RangeService& service, const std::string& owner) {
  const auto now = std::chrono::steady_clock::now();
  if (owner.empty()) return service.radio_may_have_lost(std::string(bridge_gone), now + after_bridge_left);
  service.radio_may_have_lost(std::string(bridge_replaced), now);
}

// From now on every change of the bridge's owner reaches `service`; one that came between
// start-up's call and now is found by asking who owns the name. BLOCKS up to twice 5 s.
std::expected<void, Error> follow_bridge(dbus::BusConnection& connection, const std::shared_ptr<RangeService>& service,
                                         const std::string& applied_by) {
  if (auto subscribed = connection.add_match(bridge_owner_changes()); !subscribed)
    return std::unexpected(to_error(subscribed.error()));
  connection.add_receiver(bridge_owner_changes(), [service](dbus::Message signal, dbus::BusConnection&) {
    if (auto owner = new_owner(signal)) owner_changed(*service, *owner);
    return true;
  });
  // BLOCKS up to 5 s.
  auto owner = connection.name_owner(dbus::BusName::from_constant(contract::bridge_bus_name), daemon_timeout);
  if (!owner) return std::unexpected(to_error(owner.error()));
  if (owner->value_or("") != applied_by) owner_changed(*service, owner->value_or(""));
  return {};
}

// How long one pump step may wait: up to the next re-send of the level, if one is due.
std::chrono::milliseconds pump_wait_for(const RangeService& service) {
  const auto due = service.resend_at();
  if (!due) return pump_wait;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
  return std::clamp(left, std::chrono::milliseconds(0), pump_wait);
}

}  // namespace

std::shared_ptr<RangeService> make_range_service(std::int8_t applied_level) {
  return std::make_shared<RangeService>(applied_level, std::make_unique<BridgeRadio>(),
                                        std::make_unique<ConfigFileStore>(std::string(config_file_path)));
}

tree::ObjectTree service_objects(std::shared_ptr<RangeService> service) {
  tree::TreeObject object{.path = dbus::BusPath::from_constant(contract::range_path),
                          .default_interface = std::nullopt,
                          .interfaces = {},
                          .user_data = std::move(service)};
  tree::add_introspectable(object);
  tree::add_interface(object, legacy_configuration_interface());
  tree::ObjectTree objects;
  objects.add_object(std::move(object));
  return objects;
}

Error run_bus_phase(std::int8_t applied_level, const std::string& applied_by) {
  auto connection = dbus::BusConnection::open_system_bus();  // BLOCKS while connecting
  if (!connection) return to_error(connection.error());

  // BLOCKS up to 5 s. Being only queued behind another owner still counts: we serve our object
  // on our unique name meanwhile.
  const auto answer =
      connection->request_name(dbus::BusName::from_constant(contract::range_bus_name), request_name_flags);
  if (!answer) return to_error(answer.error());
  if (auto named = dbus::check_request_name_reply(*answer); !named) return to_error(named.error());

  auto service = make_range_service(applied_level);
  if (auto following = follow_bridge(*connection, service, applied_by); !following) return following.error();
  tree::attach(service_objects(service), *connection);
  notify_supervisor_or_say_why("READY=1\nSTATUS=Serving the range on the bus");

  for (;;) {
    // BLOCKS up to pump_wait when nothing is queued, less when the level is due to go again.
    if (auto pumped = connection->process_one(pump_wait_for(*service)); !pumped) return to_error(pumped.error());
    // BLOCKS up to 5 s on the bridge when due, as a Set does.
    service->resend_if_due(std::chrono::steady_clock::now());
  }
}

}  // namespace src
