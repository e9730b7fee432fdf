#include "fuzz/oracles/int8_model.hpp"

namespace oracle {

std::expected<std::int8_t, ranged::ParseIntError> parse_int8(std::string_view text) {
  using ranged::ParseIntError;
  if (text.empty()) return std::unexpected(ParseIntError::empty);
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
    if (text.empty()) return std::unexpected(ParseIntError::invalid_digit);
  }
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::unexpected(ParseIntError::invalid_digit);
    value = value * 10 + (negative ? -(c - '0') : c - '0');
    if (value > 127) return std::unexpected(ParseIntError::too_large);
    if (value < -128) return std::unexpected(ParseIntError::too_small);
  }
  return static_cast<std::int8_t>(value);
}

}  // namespace oracle
