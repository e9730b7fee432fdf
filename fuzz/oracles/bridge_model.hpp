#pragma once
// The four argument forms the bridge accepts, spelled out as prefix, alphabet and length:
// "hci" and 1 to 3 decimal digits; "0x" and 1 to 4 hex digits (group, command); "0x" and 1 or 2
// hex digits (parameter).
#include <string>
#include <vector>

namespace oracle {

bool strict_bridge_arguments(const std::vector<std::string>& four);

}  // namespace oracle
