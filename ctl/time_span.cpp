#include "ctl/time_span.hpp"

#include <algorithm>
#include <cstdint>

namespace ctl {
namespace {

using Micros = std::uint64_t;
constexpr Micros second = 1'000'000;
constexpr Micros longest = 86'400 * second;

struct Unit {
  std::string_view name;
  Micros length;
};

// systemd's names for them; a number without one is in seconds.
constexpr Unit units[] = {
    {"us", 1},
    {"usec", 1},
    {"\u00b5s", 1},
    {"\u03bcs", 1},
    {"ms", 1'000},
    {"msec", 1'000},
    {"", second},
    {"s", second},
    {"sec", second},
    {"second", second},
    {"seconds", second},
    {"m", 60 * second},
    {"min", 60 * second},
    {"minute", 60 * second},
    {"minutes", 60 * second},
    {"h", 3'600 * second},
    {"hr", 3'600 * second},
    {"hour", 3'600 * second},
    {"hours", 3'600 * second},
    {"d", 86'400 * second},
    {"day", 86'400 * second},
    {"days", 86'400 * second},
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The leading run of characters of which `belongs` holds, taken off `text`.
std::string_view take_while(std::string_view& text, bool (*belongs)(char)) {
  const auto end = std::ranges::find_if_not(text, belongs);
  const std::string_view run = text.substr(0, static_cast<std::size_t>(end - text.begin()));
  text.remove_prefix(run.size());
  return run;
}

// "2.5" in units of `length`, if it stays within a day.
std::optional<Micros> scaled(std::string_view whole, std::string_view fraction, Micros length) {
  Micros total = 0;
  for (char c : whole) {
    total = total * 10 + static_cast<Micros>(c - '0');
    if (total > longest / length) return std::nullopt;  // beyond a day, and checked before it overflows
  }
  total *= length;
  Micros share = length;
  for (char c : fraction) {
    share /= 10;
    total += share * static_cast<Micros>(c - '0');
  }
  return total;
}

// One number and its unit, taken off `text`.
std::optional<Micros> take_part(std::string_view& text) {
  const std::string_view whole = take_while(text, is_digit);
  std::string_view fraction;
  if (text.starts_with('.')) {
    text.remove_prefix(1);
    fraction = take_while(text, is_digit);
  }
  if (whole.empty() && fraction.empty()) return std::nullopt;
  take_while(text, [](char c) { return c == ' '; });
  const std::string_view name = take_while(text, [](char c) { return c != ' ' && !is_digit(c) && c != '.'; });
  const auto* unit = std::ranges::find(units, name, &Unit::name);
  if (unit == std::end(units)) return std::nullopt;
  take_while(text, [](char c) { return c == ' '; });
  return scaled(whole, fraction, unit->length);
}

}  // namespace

std::optional<std::chrono::milliseconds> time_span_from(std::string_view text) {
  if (text == "infinity") return no_time_limit;
  if (text.empty()) return std::nullopt;
  Micros total = 0;
  while (!text.empty()) {
    const auto part = take_part(text);
    if (!part) return std::nullopt;
    total += *part;
    if (total > longest) return std::nullopt;
  }
  if (total == 0) return std::nullopt;
  return std::chrono::milliseconds((total + 999) / 1000);
}

std::string span_text(std::chrono::milliseconds span) {
  const auto count = span.count();
  if (count < 1000) return std::to_string(count) + " ms";
  std::string text = std::to_string(count / 1000);
  if (const auto thousandths = count % 1000; thousandths != 0) {
    std::string digits = std::to_string(1000 + thousandths).substr(1);
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text + " s";
}

}  // namespace ctl
