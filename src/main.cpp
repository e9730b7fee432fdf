// ble-ranged: owns the Bluetooth LE transmit range of hci0. It only ever ends through a failure
// report with exit status 1.
#include <string>

#include "src/startup.hpp"

int main() {
  ranged::prepare_process();

  auto level = ranged::read_stored_level(std::string(ranged::config_file_path));
  if (!level) ranged::exit_with_report(level.error());

  // ---- Applying the level to the radio, then the bus phase, go here. ----
  ranged::exit_with_report(ranged::Error("bus phase not built yet"));
}
