#pragma once
// Signed 8-bit decimal conversion, modelled as a walk over the characters with a wide
// accumulator: the first character that breaks a rule decides the outcome.
#include <cstdint>
#include <expected>
#include <string_view>

#include "src/parse_int.hpp"

namespace oracle {

std::expected<std::int8_t, ranged::ParseIntError> parse_int8(std::string_view text);

}  // namespace oracle
