#pragma once
// Making arbitrary tool output fit a D-Bus string.
#include <string>
#include <string_view>

namespace bridge {

// Valid UTF-8 without NUL bytes: every maximal ill-formed subsequence (overlong forms, surrogates
// and code points above U+10FFFF included) and every NUL becomes U+FFFD. A D-Bus string can hold
// neither, and libdbus refuses to append an invalid one.
std::string to_bus_text(std::string_view bytes);

}  // namespace bridge
