#include "src/bus_phase.hpp"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "contract/range_interface.hpp"
#include "dbus/bus_connection.hpp"
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

Error run_bus_phase(std::int8_t applied_level) {
  auto connection = dbus::BusConnection::open_system_bus();  // BLOCKS while connecting
  if (!connection) return to_error(connection.error());

  // BLOCKS up to 5 s. Being only queued behind another owner still counts: we serve our object
  // on our unique name meanwhile.
  const auto answer =
      connection->request_name(dbus::BusName::from_constant(contract::range_bus_name), request_name_flags);
  if (!answer) return to_error(answer.error());
  if (auto named = dbus::check_request_name_reply(*answer); !named) return to_error(named.error());

  tree::attach(service_objects(make_range_service(applied_level)), *connection);
  notify_supervisor_or_say_why("READY=1\nSTATUS=Serving the range on the bus");

  for (;;) {
    // BLOCKS up to pump_wait when nothing is queued.
    if (auto pumped = connection->process_one(pump_wait); !pumped) return to_error(pumped.error());
  }
}

}  // namespace src
