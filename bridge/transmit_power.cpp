#include "bridge/transmit_power.hpp"

#include <cstddef>

#include "bridge/concat.hpp"

namespace bridge {
namespace {

constexpr std::string_view controller_refusal =
    "Invalid controller: expected \"hci\" followed by an index of 1 to 3 decimal digits without leading zeros";
constexpr std::string_view group_refusal = "Invalid command group: only 0x3f (vendor-specific) is allowed";
constexpr std::string_view command_refusal = "Invalid command: only 0x0087 (set transmit power) is allowed";
constexpr std::string_view parameter_refusal =
    "Invalid command parameter: expected a transmit power from -30 to 20 dBm (0xe2 to 0xff or 0x0 to 0x14)";

bool is_decimal(char c) noexcept { return c >= '0' && c <= '9'; }

// "hci0", "hci12": nothing that a tool could take for an option or a path, and one spelling per
// controller, so that a controller is remembered and restored under one name.
std::optional<std::uint16_t> controller_index(std::string_view text) noexcept {
  if (!text.starts_with("hci")) return std::nullopt;
  const std::string_view digits = text.substr(3);
  if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  unsigned index = 0;
  for (const char c : digits) {
    if (!is_decimal(c)) return std::nullopt;
    index = index * 10 + unsigned(c - '0');
  }
  return static_cast<std::uint16_t>(index);
}

// Lower-case "0x" and 1 to max_digits hex digits; the value of the digits.
std::optional<unsigned> hex_field(std::string_view text, std::size_t max_digits) noexcept {
  if (!text.starts_with("0x")) return std::nullopt;
  const std::string_view digits = text.substr(2);
  if (digits.empty() || digits.size() > max_digits) return std::nullopt;
  unsigned value = 0;
  for (const char c : digits) {
    const auto digit = hex_value(c);
    if (!digit) return std::nullopt;
    value = value * 16 + *digit;
  }
  return value;
}

std::optional<std::int8_t> power_of(std::string_view parameter) noexcept {
  const auto byte = hex_field(parameter, 2);
  if (!byte) return std::nullopt;
  const auto power = static_cast<std::int8_t>(static_cast<std::uint8_t>(*byte));
  if (power < lowest_power_dbm || power > highest_power_dbm) return std::nullopt;
  return power;
}

}  // namespace

std::optional<unsigned> hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return unsigned(c - '0');
  if (c >= 'a' && c <= 'f') return unsigned(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return unsigned(c - 'A' + 10);
  return std::nullopt;
}

std::string_view role_name(ArgumentRole role) noexcept {
  switch (role) {
    case ArgumentRole::controller: return "controller";
    case ArgumentRole::group: return "command group";
    case ArgumentRole::command: return "command";
    case ArgumentRole::parameter: return "command parameter";
  }
  return "argument";
}

std::expected<TransmitPower, std::string> read_transmit_power(std::string_view controller, std::string_view group,
                                                              std::string_view command, std::string_view parameter) {
  const auto index = controller_index(controller);
  if (!index) return std::unexpected(std::string(controller_refusal));
  if (hex_field(group, 4) != 0x3fu) return std::unexpected(std::string(group_refusal));
  if (hex_field(command, 4) != 0x87u) return std::unexpected(std::string(command_refusal));
  const auto power = power_of(parameter);
  if (!power) return std::unexpected(std::string(parameter_refusal));
  return TransmitPower{.controller = std::string(controller), .index = *index, .power_dbm = *power};
}

std::string parameter_text(const TransmitPower& command) {
  static constexpr char digits[] = "0123456789abcdef";
  const auto byte = static_cast<std::uint8_t>(command.power_dbm);
  std::string text = "0x";
  if (byte >= 0x10) text += digits[byte >> 4];
  text += digits[byte & 0xf];
  return text;
}

std::string command_line(const TransmitPower& command) {
  return concat(command.controller, ' ', group_text, ' ', command_text, ' ', parameter_text(command));
}

}  // namespace bridge
