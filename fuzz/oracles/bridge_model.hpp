#pragma once
// The one command the bridge accepts, spelled out as prefix, alphabet, length and value: "hci"
// and 1 to 3 decimal digits without a leading zero; "0x" and 1 to 4 hex digits of value 0x3f
// (group) and 0x87 (command); "0x" and 1 or 2 hex digits of a byte that, signed, lies from -30
// to 20 (parameter).
#include <optional>
#include <string>
#include <vector>

namespace oracle {

// "hci0 0x3f 0x0087 0xe2" for an accepted command (the parameter in lower case without
// leading zeros), nothing for a refused one.
std::optional<std::string> transmit_power_line(const std::vector<std::string>& four);

}  // namespace oracle
