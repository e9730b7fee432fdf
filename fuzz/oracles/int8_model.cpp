#include "fuzz/oracles/int8_model.hpp"

#include <algorithm>
#include <charconv>

namespace oracle {

// A longer run of digits never has a smaller magnitude than a shorter one, so the conversion
// leaves the range before any later character exactly when the whole run after the sign does;
// that is decided on the digits as text. Otherwise the first character after the run decides.
std::expected<std::int8_t, text::ParseIntError> parse_int8(std::string_view input) {
  using text::ParseIntError;
  if (input.empty()) return std::unexpected(ParseIntError::empty);
  const bool negative = input.front() == '-';
  const std::string_view rest = input.substr(negative || input.front() == '+' ? 1 : 0);
  const std::string_view run = rest.substr(0, rest.find_first_not_of("0123456789"));
  const std::string_view digits = run.substr(std::min(run.find_first_not_of('0'), run.size()));
  const std::string_view bound = negative ? "128" : "127";
  if (digits.size() > bound.size() || (digits.size() == bound.size() && digits > bound)) {
    return std::unexpected(negative ? ParseIntError::too_small : ParseIntError::too_large);
  }
  if (rest.empty() || run.size() < rest.size()) return std::unexpected(ParseIntError::invalid_digit);
  int magnitude = 0;  // at most 128 by now, however many zeros lead
  std::from_chars(run.data(), run.data() + run.size(), magnitude);
  return static_cast<std::int8_t>(negative ? -magnitude : magnitude);
}

}  // namespace oracle
