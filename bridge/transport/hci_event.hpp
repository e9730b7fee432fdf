#pragma once
// HCI packets as the controller exchanges them with the bridge, and the text the tool prints
// for them. Both ways of reaching the controller (our own socket, or the tool) end here, so
// the status is read by one piece of code.
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "bridge/transmit_power.hpp"

namespace bridge {

struct HciEvent {
  std::uint8_t code = 0;
  std::vector<std::uint8_t> parameters;

  friend bool operator==(const HciEvent&, const HciEvent&) = default;
};

// The command as a raw socket sends it: type, opcode (little-endian), length, the one parameter.
std::vector<std::uint8_t> command_packet(const TransmitPower& command);

// An event packet as a raw socket receives it: type 0x04, code, length, parameters. A packet of
// another type, or whose length byte disagrees with its size, is refused with its bytes quoted.
std::expected<HciEvent, std::string> decode_event_packet(std::span<const std::uint8_t> packet);
std::vector<std::uint8_t> event_packet(const HciEvent& event);

// What one event says about the command with `opcode`:
// - answered: a Command Complete for it (status = its first return parameter), or a Command
//   Status for it with a non-zero status (the command was refused);
// - pending: a Command Status 0 for it (accepted; its Command Complete is still to come);
// - unrelated: anything else, which the caller skips.
// A Command Complete or Command Status too short for its fixed fields is refused.
struct EventMeaning {
  enum class Kind { unrelated, pending, answered };
  Kind kind = Kind::unrelated;
  std::uint8_t status = 0;
};
std::expected<EventMeaning, std::string> interpret(const HciEvent& event, std::uint16_t opcode);

// The tool's printed lines: "< HCI Command: ogf 0x3f, ocf 0x0087, plen 1" or
// "> HCI Event: 0x0e plen 4", each followed by the bytes in upper-case hex, 20 to a line, every
// byte followed by a space; no byte line for no bytes.
std::string print_command(const TransmitPower& command);
std::string print_event(const HciEvent& event);
std::string hex_dump(std::span<const std::uint8_t> bytes);

// The reply's last line, which callers read: the status byte in signed decimal.
std::string status_line(std::uint8_t status);

// "04 0E 01" for quoting bytes in messages.
std::string hex_list(std::span<const std::uint8_t> bytes);

}  // namespace bridge
