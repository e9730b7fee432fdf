#pragma once
// The one HCI command a caller may ask for, accepted only in the strict textual form that the
// tool's own argument parser understands unambiguously.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace bridge {

struct HciCommand {
  std::string controller;  // "hci0"
  std::string group;       // "0x3f"
  std::string command;     // "0x0087"
  std::string parameter;   // "0x5"

  std::uint16_t group_value = 0;
  std::uint16_t command_value = 0;
  std::uint8_t parameter_value = 0;
};

// The value of one hex digit of either case, or nothing.
std::optional<unsigned> hex_value(char c) noexcept;

// Which of the four arguments, as the caller's message names it.
enum class ArgumentRole { controller, group, command, parameter };
std::string_view role_name(ArgumentRole role) noexcept;

// Nothing in a rejected command reaches a process or a file; the error names the argument.
std::expected<HciCommand, std::string> validate_command(std::string_view controller, std::string_view group,
                                                        std::string_view command, std::string_view parameter);

}  // namespace bridge
