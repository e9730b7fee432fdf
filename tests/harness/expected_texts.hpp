#pragma once
// The programs' own words, for the tests above their units that still compare them: the message
// that refuses a level, the line printed for a level applied, the file it stores, and the
// bridge's refusals of anything but the transmit-power command. Their wording is pinned by the
// unit tests of the code that writes them, nowhere else.
#include <string>

namespace harness {

// The InvalidArgs message for a level outside [0, 30].
inline std::string level_refused(long long level) {
  return "Invalid argument Bluetooth LE range " + std::to_string(level) + " not between [0, 30]";
}

// The line on standard output for a level the radio took: the power is 20 below the level.
inline std::string level_applied(int level) {
  return "Set BLE range " + std::to_string(level) + " (" + std::to_string(level - 20) + " dBm) successfully.\n";
}

// /etc/wireless/bluetooth.conf as the service stores a level.
inline std::string stored_file(int level) { return "[Bluetooth]\nRange = " + std::to_string(level) + "\n"; }

// The bridge's InvalidArgs messages, one per argument of ExecuteHcitool.
namespace bridge_refusal {
inline const std::string controller =
    "Invalid controller: expected \"hci\" followed by an index of 1 to 3 decimal digits without leading zeros";
inline const std::string group = "Invalid command group: only 0x3f (vendor-specific) is allowed";
inline const std::string command = "Invalid command: only 0x0087 (set transmit power) is allowed";
inline const std::string power =
    "Invalid command parameter: expected a transmit power from -30 to 20 dBm (0xe2 to 0xff or 0x0 to 0x14)";
}  // namespace bridge_refusal

}  // namespace harness
