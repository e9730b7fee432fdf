#include "bridge/transport/hci_event.hpp"

#include <cstdio>

#include "bridge/concat.hpp"
#include "bridge/transport/hci_kernel.hpp"

namespace bridge {
namespace {

constexpr char upper_hex[] = "0123456789ABCDEF";

void append_byte(std::string& out, std::uint8_t byte) {
  out += upper_hex[byte >> 4];
  out += upper_hex[byte & 0xf];
}

std::uint16_t little_endian(std::uint8_t low, std::uint8_t high) noexcept {
  return static_cast<std::uint16_t>(low | (high << 8));
}

std::unexpected<std::string> malformed(std::string_view what, std::span<const std::uint8_t> bytes) {
  return std::unexpected(concat(what, ": ", bytes.empty() ? std::string("(no bytes)") : hex_list(bytes)));
}

}  // namespace

std::vector<std::uint8_t> command_packet(const TransmitPower& command) {
  return {hci::command_packet, transmit_power_opcode & 0xff, transmit_power_opcode >> 8, 1,
          static_cast<std::uint8_t>(command.power_dbm)};
}

std::expected<HciEvent, std::string> decode_event_packet(std::span<const std::uint8_t> packet) {
  if (packet.size() < 3 || packet[0] != hci::event_packet) return malformed("Not an HCI event", packet);
  if (packet.size() != 3u + packet[2]) return malformed("HCI event of the wrong length", packet);
  return HciEvent{packet[1], {packet.begin() + 3, packet.end()}};
}

std::vector<std::uint8_t> event_packet(const HciEvent& event) {
  std::vector<std::uint8_t> packet{hci::event_packet, event.code, static_cast<std::uint8_t>(event.parameters.size())};
  packet.insert(packet.end(), event.parameters.begin(), event.parameters.end());
  return packet;
}

std::expected<EventMeaning, std::string> interpret(const HciEvent& event, std::uint16_t opcode) {
  const auto& p = event.parameters;
  using Kind = EventMeaning::Kind;
  if (event.code == hci::command_complete) {
    // Number of packets, opcode, then the return parameters, of which the status is the first.
    if (p.size() < 3) return malformed("Command Complete without an opcode", event_packet(event));
    if (little_endian(p[1], p[2]) != opcode) return EventMeaning{};
    if (p.size() < 4) return malformed("Command Complete without a status", event_packet(event));
    return EventMeaning{Kind::answered, p[3]};
  }
  if (event.code == hci::command_status) {
    // Status, number of packets, opcode.
    if (p.size() != 4) return malformed("Command Status of the wrong length", event_packet(event));
    if (little_endian(p[2], p[3]) != opcode) return EventMeaning{};
    return EventMeaning{p[0] == 0 ? Kind::pending : Kind::answered, p[0]};
  }
  return EventMeaning{};
}

std::string hex_dump(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 20 == 0) out += "  ";
    append_byte(out, bytes[i]);
    out += ' ';
    if (i % 20 == 19 || i + 1 == bytes.size()) out += '\n';
  }
  return out;
}

std::string print_command(const TransmitPower& command) {
  const std::uint8_t parameter[] = {static_cast<std::uint8_t>(command.power_dbm)};
  return concat("< HCI Command: ogf ", group_text, ", ocf ", command_text, ", plen 1\n", hex_dump(parameter));
}

std::string print_event(const HciEvent& event) {
  char head[40];
  std::snprintf(head, sizeof head, "> HCI Event: 0x%02x plen %zu\n", unsigned(event.code), event.parameters.size());
  return head + hex_dump(event.parameters);
}

std::string status_line(std::uint8_t status) { return concat("Status: ", int(static_cast<std::int8_t>(status)), '\n'); }

std::string hex_list(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (const std::uint8_t byte : bytes) {
    if (!out.empty()) out += ' ';
    append_byte(out, byte);
  }
  return out;
}

}  // namespace bridge
