#include "src/bus_phase.hpp"

#include <chrono>
#include <cstdint>
#include <utility>

#include "dbus/bus_connection.hpp"
#include "dbus/names.hpp"
#include "src/range_interface.hpp"
#include "src/range_property.hpp"

namespace ranged {
namespace {

// Replace an existing owner that allows it; otherwise wait in the queue rather than give up.
constexpr std::uint32_t request_name_flags = dbus::name_flag::replace_existing;
constexpr std::chrono::milliseconds pump_wait{1000};

}  // namespace

tree::ObjectTree service_objects(std::shared_ptr<RangeService> service) {
  tree::TreeObject object{.path = dbus::BusPath::from_constant(range_path),
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
  const auto answer = connection->request_name(dbus::BusName::from_constant(range_bus_name), request_name_flags);
  if (!answer) return to_error(answer.error());
  if (auto named = dbus::check_request_name_reply(*answer); !named) return to_error(named.error());

  tree::attach(service_objects(RangeService::create(applied_level)), *connection);

  for (;;) {
    // BLOCKS up to pump_wait when nothing is queued.
    if (auto pumped = connection->process_one(pump_wait); !pumped) return to_error(pumped.error());
  }
}

}  // namespace ranged
