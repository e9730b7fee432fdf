#pragma once
// UTF-8 checks for text crossing into libdbus, which aborts the process on a malformed string.
#include <string>
#include <string_view>

namespace bus {

// Well-formed UTF-8 as libdbus accepts it: shortest forms only, no surrogates, nothing above U+10FFFF.
bool is_utf8(std::string_view text) noexcept;

// The text with every malformed sequence replaced by U+FFFD; well-formed text comes back unchanged.
std::string repair_utf8(std::string_view text);

}  // namespace bus
