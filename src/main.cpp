// ble-ranged: owns the Bluetooth LE transmit range of hci0. It only ever ends through a failure
// report with exit status 1, or 3 when the controller does not know the command, unless asked for
// --help or --version, or given anything else on its command line (status 2).
#include <cstdio>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "src/bus_phase.hpp"
#include "src/radio_at_start.hpp"
#include "src/startup.hpp"
#include "src/tx_power_command.hpp"
#include "text/quoted.hpp"

namespace {

constexpr std::string_view usage = "Usage: ble-ranged [-h | --help | --version]\n";

constexpr std::string_view help_text =
    "Owns the Bluetooth LE transmit range of controller hci0: publishes it on the system bus as\n"
    "the property Range of /com/orbo/RIDEviva (interface com.orbo.Configuration.Legacy, name\n"
    "com.orbo.RIDEviva), keeps it in /etc/wireless/bluetooth.conf and applies it through\n"
    "hcitool-bridge. systemd starts it without arguments (ble-ranged.service); any other\n"
    "argument is refused before the configuration is read or the radio is touched.\n"
    "\n"
    "  -h, --help  show this text and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "See ble-ranged(8).\n";

enum class Asked { serve, help, version };

// What the command line asks for: nothing (serve), or --help or --version, the first of them
// winning. Anything else is refused, so that a typo such as --verison never starts a second
// service that would apply the stored level to the radio behind the running one's back.
std::expected<Asked, std::string_view> read_command_line(int argc, char** argv) {
  std::optional<Asked> informational;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      informational = informational.value_or(Asked::help);
    } else if (argument == "--version") {
      informational = informational.value_or(Asked::version);
    } else {
      return std::unexpected(argument);
    }
  }
  return informational.value_or(Asked::serve);
}

int write_out(const std::string& text) {
  return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const auto asked = read_command_line(argc, argv);
  if (!asked) {
    // Worded as every program of this system words a command line it does not take.
    const std::string_view refused = asked.error();
    const std::string refusal = std::string("Error: ") +
                                (refused.starts_with('-') ? "unknown option " : "unexpected argument ") +
                                text::quoted_start(refused, 64) + " (see ble-ranged --help)\n";
    std::fputs(refusal.c_str(), stderr);
    return 2;
  }
  if (*asked == Asked::help) return write_out(std::string(usage) + std::string(help_text));
  if (*asked == Asked::version) return write_out("ble-ranged " BLE_VERSION "\n");

  src::prepare_process();

  auto level = src::read_stored_level(std::string(src::config_file_path));
  if (!level) src::exit_with_report(level.error());

  // The stored level reaches the radio before we join the bus: a service whose radio cannot be
  // set never owns its name. BLOCKS up to 5 s on the privileged service, and for as long as the
  // controller stays switched off.
  src::BridgeRadio radio;
  if (auto applied = src::apply_at_start(radio, *level, src::real_start_up_wait()); !applied) {
    if (!src::command_unknown(applied.error())) src::exit_with_report(applied.error());
    // Permanent: a status that the unit and the init script do not restart, instead of the same
    // refusal every few seconds for ever.
    std::fflush(stdout);
    std::fputs(src::unknown_command_report(applied.error()).report().c_str(), stderr);
    return src::unknown_command_status;
  }

  // BLOCKS for the life of the service; it comes back only with the reason it stopped.
  src::exit_with_report(src::run_bus_phase(*level, radio.applied_by()));
}
