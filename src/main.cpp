// ble-ranged: owns the Bluetooth LE transmit range of hci0. It only ever ends through a failure
// report with exit status 1.
#include <string>

#include "src/bus_phase.hpp"
#include "src/startup.hpp"
#include "src/tx_power_command.hpp"

int main() {
  ranged::prepare_process();

  auto level = ranged::read_stored_level(std::string(ranged::config_file_path));
  if (!level) ranged::exit_with_report(level.error());

  // The stored level reaches the radio before we join the bus: a service whose radio cannot be
  // set never owns its name. BLOCKS up to 5 s on the privileged service.
  if (auto applied = ranged::TxPowerCommand::run(*level); !applied) ranged::exit_with_report(applied.error());

  // BLOCKS for the life of the service; it comes back only with the reason it stopped.
  ranged::exit_with_report(ranged::run_bus_phase(*level));
}
