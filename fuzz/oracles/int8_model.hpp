#pragma once
// Signed 8-bit decimal conversion, modelled on the digit string as text: no accumulator, the run
// of digits is compared with the bound's digits ("127" or "128").
#include <cstdint>
#include <expected>
#include <string_view>

#include "text/parse_int.hpp"

namespace oracle {

std::expected<std::int8_t, text::ParseIntError> parse_int8(std::string_view input);

}  // namespace oracle
