#pragma once
// Unicode lower-casing of UTF-8 text, as section and key names are compared.
#include <string>
#include <string_view>

namespace text {

// Full Unicode lower-case mapping (final sigma by the usual rule). `utf8` must be valid UTF-8.
std::string lower_case(std::string_view utf8);

}  // namespace text
