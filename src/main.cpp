// ble-ranged: owns the Bluetooth LE transmit range of hci0. It only ever ends through a failure
// report with exit status 1, unless asked for --help or --version.
#include <cstdio>
#include <string>
#include <string_view>

#include "src/bus_phase.hpp"
#include "src/radio_at_start.hpp"
#include "src/startup.hpp"
#include "src/tx_power_command.hpp"

namespace {

constexpr std::string_view help =
    "Usage: ble-ranged [--help | --version]\n"
    "Owns the Bluetooth LE transmit range of controller hci0: publishes it on the system bus as\n"
    "the property Range of /com/orbo/RIDEviva (interface com.orbo.Configuration.Legacy, name\n"
    "com.orbo.RIDEviva), keeps it in /etc/wireless/bluetooth.conf and applies it through\n"
    "hcitool-bridge. systemd starts it without arguments (ble-ranged.service); arguments other\n"
    "than these two are ignored.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "See ble-ranged(8).\n";

// The first of --help and --version among the arguments, if any; the rest are ignored.
std::string_view informational_request(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "--version") return argument;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto request = informational_request(argc, argv); !request.empty()) {
    const std::string text = request == "--help" ? std::string(help) : "ble-ranged " BLE_VERSION "\n";
    return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
  }

  src::prepare_process();

  auto level = src::read_stored_level(std::string(src::config_file_path));
  if (!level) src::exit_with_report(level.error());

  // The stored level reaches the radio before we join the bus: a service whose radio cannot be
  // set never owns its name. BLOCKS up to 5 s on the privileged service, and for as long as the
  // controller stays switched off.
  src::BridgeRadio radio;
  if (auto applied = src::apply_at_start(radio, *level, src::real_start_up_wait()); !applied)
    src::exit_with_report(applied.error());

  // BLOCKS for the life of the service; it comes back only with the reason it stopped.
  src::exit_with_report(src::run_bus_phase(*level));
}
