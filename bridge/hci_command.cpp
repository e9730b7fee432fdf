#include "bridge/hci_command.hpp"

#include <cstddef>
#include <optional>

#include "bridge/concat.hpp"

namespace bridge {
namespace {

bool is_decimal(char c) noexcept { return c >= '0' && c <= '9'; }

// "hci" and 1 to 3 decimal digits: nothing that the tool could take for an option or a path.
bool is_controller(std::string_view text) noexcept {
  if (!text.starts_with("hci")) return false;
  const std::string_view digits = text.substr(3);
  if (digits.empty() || digits.size() > 3) return false;
  for (char c : digits)
    if (!is_decimal(c)) return false;
  return true;
}

// Lower-case "0x" and 1 to max_digits hex digits; the value of the digits.
std::optional<unsigned> hex_field(std::string_view text, std::size_t max_digits) noexcept {
  if (!text.starts_with("0x")) return std::nullopt;
  const std::string_view digits = text.substr(2);
  if (digits.empty() || digits.size() > max_digits) return std::nullopt;
  unsigned value = 0;
  for (char c : digits) {
    const auto digit = hex_value(c);
    if (!digit) return std::nullopt;
    value = value * 16 + *digit;
  }
  return value;
}

std::string invalid(ArgumentRole role, std::string_view expected) {
  return concat("Invalid ", role_name(role), ": expected ", expected);
}

constexpr std::string_view controller_form = "\"hci\" followed by 1 to 3 decimal digits";
constexpr std::string_view opcode_form = "\"0x\" followed by 1 to 4 hex digits";
constexpr std::string_view parameter_form = "\"0x\" followed by 1 or 2 hex digits";

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

std::expected<HciCommand, std::string> validate_command(std::string_view controller, std::string_view group,
                                                        std::string_view command, std::string_view parameter) {
  if (!is_controller(controller)) return std::unexpected(invalid(ArgumentRole::controller, controller_form));
  const auto group_value = hex_field(group, 4);
  if (!group_value) return std::unexpected(invalid(ArgumentRole::group, opcode_form));
  const auto command_value = hex_field(command, 4);
  if (!command_value) return std::unexpected(invalid(ArgumentRole::command, opcode_form));
  const auto parameter_value = hex_field(parameter, 2);
  if (!parameter_value) return std::unexpected(invalid(ArgumentRole::parameter, parameter_form));

  return HciCommand{
      .controller = std::string(controller),
      .group = std::string(group),
      .command = std::string(command),
      .parameter = std::string(parameter),
      .group_value = static_cast<std::uint16_t>(*group_value),
      .command_value = static_cast<std::uint16_t>(*command_value),
      .parameter_value = static_cast<std::uint8_t>(*parameter_value),
  };
}

}  // namespace bridge
