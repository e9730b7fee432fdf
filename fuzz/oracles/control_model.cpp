#include "fuzz/oracles/control_model.hpp"

#include <initializer_list>

namespace oracle {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// An optional minus and 1 to 18 digits (so that the value fits), within [low, high].
std::optional<long long> decimal(std::string_view text, long long low, long long high) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  std::size_t first = 0;
  while (first + 1 < text.size() && text[first] == '0') ++first;  // leading zeros do not count
  if (text.empty() || text.size() - first > 18) return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < low || value > high) return std::nullopt;
  return value;
}

int hex_digit(char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Words of exactly two hex digits between any number of blanks, at most 250 of them.
std::optional<std::vector<int>> bytes(std::string_view text) {
  std::vector<int> out;
  const std::string padded = std::string(text) + ' ';  // the last word ends at a blank too
  std::string current;
  for (const char c : padded) {
    if (c != ' ') {
      current += c;
      continue;
    }
    if (current.empty()) continue;
    if (current.size() != 2 || hex_digit(current[0]) < 0 || hex_digit(current[1]) < 0) return std::nullopt;
    out.push_back(hex_digit(current[0]) * 16 + hex_digit(current[1]));
    current.clear();
  }
  if (out.size() > 250) return std::nullopt;
  return out;
}

std::optional<std::string> unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 == text.size()) return std::nullopt;
    const char next = text[++i];
    if (next == 'n') out += '\n';
    else if (next == 'r') out += '\r';
    else if (next == 't') out += '\t';
    else if (next == '\\') out += '\\';
    else return std::nullopt;
  }
  return out;
}

bool one_of(std::string_view value, std::initializer_list<std::string_view> names) {
  for (const auto name : names)
    if (value == name) return true;
  return false;
}

// False when the key is unknown or its value refused.
bool apply(ControlModel& control, std::string_view key, std::string_view value) {
  if (key == "status") {
    const auto status = decimal(value, -128, 255);
    if (!status) return false;
    control.status = *status;
  } else if (key == "extra") {
    auto extra = bytes(value);
    if (!extra) return false;
    control.extra = *extra;
  } else if (key == "answer") {
    if (!one_of(value, {"complete", "status", "pending", "none"})) return false;
    control.answer = value;
  } else if (key == "before") {
    if (!one_of(value, {"none", "packets", "advertising", "other"})) return false;
    control.before = value;
  } else if (key == "delay_ms") {
    const auto delay = decimal(value, 0, 60000);
    if (!delay) return false;
    control.delay_ms = *delay;
  } else if (key == "reply") {
    if (!one_of(value, {"output", "error", "empty", "uint32", "text"})) return false;
    control.reply = value;
  } else if (key == "error_name") {
    control.error_name = std::string(value);
  } else if (key == "error_message") {
    control.error_message = value;
  } else if (key == "text") {
    auto text = unescaped(value);
    if (!text) return false;
    control.text = *text;
  } else {
    return false;
  }
  return true;
}

}  // namespace

ControlOutcome read_control(std::string_view content) {
  ControlModel control;
  int number = 0;
  std::size_t start = 0;
  while (start < content.size()) {
    ++number;
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || !apply(control, line.substr(0, equals), line.substr(equals + 1)))
      return {std::nullopt, number};
  }
  return {control, 0};
}

}  // namespace oracle
