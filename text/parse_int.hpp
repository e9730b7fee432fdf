#pragma once
// Strict decimal conversion to a signed 8-bit integer: optional single sign, then digits only.
#include <cstdint>
#include <expected>
#include <string_view>

namespace text {

enum class ParseIntError { empty, invalid_digit, too_large, too_small };

// "cannot parse integer from empty string", "invalid digit found in string",
// "number too large to fit in target type", "number too small to fit in target type".
std::string_view message(ParseIntError error) noexcept;

// Characters are taken from the left; the first offending one decides the error.
std::expected<std::int8_t, ParseIntError> parse_i8(std::string_view text) noexcept;

}  // namespace text
