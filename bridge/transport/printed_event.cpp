#include "bridge/transport/printed_event.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "bridge/transmit_power.hpp"

namespace bridge {
namespace {

constexpr std::string_view event_head = "> HCI Event: 0x";
constexpr std::string_view byte_line_start = "  ";

// "0e plen 4": the code and the length the tool announces.
std::optional<std::pair<std::uint8_t, unsigned>> read_event_head(std::string_view rest) {
  if (rest.size() < 2) return std::nullopt;
  const auto high = hex_value(rest[0]), low = hex_value(rest[1]);
  rest.remove_prefix(2);
  if (!high || !low || !rest.starts_with(" plen ")) return std::nullopt;
  rest.remove_prefix(6);
  unsigned length = 0;
  if (rest.empty() || rest.size() > 3) return std::nullopt;
  for (const char c : rest) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + unsigned(c - '0');
  }
  if (length > 255) return std::nullopt;
  return std::pair{static_cast<std::uint8_t>(*high << 4 | *low), length};
}

// "  01 87 FC 00 ": each byte as two hex digits and a blank.
bool read_byte_line(std::string_view line, std::vector<std::uint8_t>& bytes) {
  line.remove_prefix(byte_line_start.size());
  if (line.empty() || line.size() % 3 != 0) return false;
  for (; !line.empty(); line.remove_prefix(3)) {
    const auto high = hex_value(line[0]), low = hex_value(line[1]);
    if (!high || !low || line[2] != ' ') return false;
    bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  return true;
}

}  // namespace

std::expected<HciEvent, std::string> read_printed_event(std::string_view printed) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < printed.size();) {
    const std::size_t end = std::min(printed.find('\n', start), printed.size());
    lines.push_back(printed.substr(start, end - start));
    start = end + 1;
  }
  std::size_t at = 0;
  while (at < lines.size() && !lines[at].starts_with(event_head)) ++at;
  if (at == lines.size()) return std::unexpected(std::string("no HCI event"));

  const auto head = read_event_head(lines[at].substr(event_head.size()));
  if (!head) return std::unexpected(std::string("an unreadable event line"));
  HciEvent event{head->first, {}};
  for (++at; at < lines.size() && lines[at].starts_with(byte_line_start); ++at)
    if (!read_byte_line(lines[at], event.parameters)) return std::unexpected(std::string("an unreadable byte line"));
  if (at != lines.size()) return std::unexpected(std::string("more after the event"));
  if (event.parameters.size() != head->second)
    return std::unexpected(std::string("an event whose length disagrees with its bytes"));
  return event;
}

}  // namespace bridge
