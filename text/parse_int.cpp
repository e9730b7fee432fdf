#include "text/parse_int.hpp"

namespace text {

std::string_view message(ParseIntError error) noexcept {
  switch (error) {
    case ParseIntError::empty: return "cannot parse integer from empty string";
    case ParseIntError::invalid_digit: return "invalid digit found in string";
    case ParseIntError::too_large: return "number too large to fit in target type";
    case ParseIntError::too_small: return "number too small to fit in target type";
  }
  return "invalid digit found in string";
}

std::expected<std::int8_t, ParseIntError> parse_i8(std::string_view text) noexcept {
  if (text.empty()) return std::unexpected(ParseIntError::empty);
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
    if (text.empty()) return std::unexpected(ParseIntError::invalid_digit);
  }
  // Accumulating towards the sign keeps -128 representable and lets the first digit that
  // leaves the range decide, before any later character is looked at.
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::unexpected(ParseIntError::invalid_digit);
    int digit = c - '0';
    value = negative ? value * 10 - digit : value * 10 + digit;
    if (value > 127) return std::unexpected(ParseIntError::too_large);
    if (value < -128) return std::unexpected(ParseIntError::too_small);
  }
  return static_cast<std::int8_t>(value);
}

}  // namespace text
