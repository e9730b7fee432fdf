#pragma once
// The service's own words, for the tests above its units that still compare them: the message
// that refuses a level, the line printed for a level applied and the file it stores. Their
// wording is pinned by the unit tests of the code that writes them, nowhere else.
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

}  // namespace harness
