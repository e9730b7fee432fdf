#pragma once
// The one command the bridge sends: the vendor command that sets a controller's transmit power.
// A caller names it in four texts, each accepted only in a strict form and then only with the
// value (or, for the power, the range) of this command, so no other command ever reaches a
// controller and every way of reaching one gets the same answer to the same texts.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace bridge {

// Group 0x3f (vendor-specific), command 0x0087: opcode 0xfc87.
inline constexpr std::uint16_t transmit_power_opcode = 0xfc87;
inline constexpr std::string_view group_text = "0x3f";
inline constexpr std::string_view command_text = "0x0087";
// The powers the service ever sends: its levels 0 to 30, less 20.
inline constexpr int lowest_power_dbm = -30;
inline constexpr int highest_power_dbm = 20;

struct TransmitPower {
  std::string controller;   // "hci0"
  std::uint16_t index = 0;  // the kernel's index of the controller: 0 for hci0
  std::int8_t power_dbm = 0;

  friend bool operator==(const TransmitPower&, const TransmitPower&) = default;
};

// The value of one hex digit of either case, or nothing.
std::optional<unsigned> hex_value(char c) noexcept;

// Which of the four arguments, as the caller's message names it.
enum class ArgumentRole { controller, group, command, parameter };
std::string_view role_name(ArgumentRole role) noexcept;

// The controller: "hci" and 1 to 3 decimal digits without leading zeros. Group and command:
// lower-case "0x" and 1 to 4 hex digits of the values 0x3f and 0x0087. Parameter: "0x" and 1 or
// 2 hex digits of a signed byte from -30 to 20. The error names the first argument refused and
// what it allows.
std::expected<TransmitPower, std::string> read_transmit_power(std::string_view controller, std::string_view group,
                                                              std::string_view command, std::string_view parameter);

// The power as the service writes it: "0x", then the byte in lower-case hex without leading
// zeros ("0x5", "0xe2").
std::string parameter_text(const TransmitPower& command);
// "hci0 0x3f 0x0087 0x5": how logs, the call log and the state file write the command.
std::string command_line(const TransmitPower& command);

}  // namespace bridge
