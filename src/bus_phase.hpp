#pragma once
// The service on the bus: its own connection, its name, its object, and the pump.
#include <cstdint>
#include <memory>
#include <string>

#include "src/conf/range_service.hpp"
#include "src/error.hpp"
#include "tree/object_tree.hpp"

namespace src {

// The service as it runs: levels go to hci0 through the bridge (BridgeRadio) and are kept in
// /etc/wireless/bluetooth.conf (ConfigFileStore).
std::shared_ptr<RangeService> make_range_service(std::int8_t applied_level);

// /com/orbo/RIDEviva with Introspectable, com.orbo.Configuration.Legacy (and so Properties),
// `service` as its data.
tree::ObjectTree service_objects(std::shared_ptr<RangeService> service);

// Opens the service's connection, takes com.orbo.RIDEviva and serves the object for the level
// start-up applied through the bridge `applied_by` (its unique name). It follows the bridge's
// name, and sends the held level again whenever the bridge may not hold it. BLOCKS for the life
// of the service: it returns only with the reason it stopped.
Error run_bus_phase(std::int8_t applied_level, const std::string& applied_by);

}  // namespace src
