#include "fuzz/oracles/hci_model.hpp"

#include <regex>
#include <string>

namespace oracle {
namespace {

std::uint8_t at(std::string_view bytes, std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); }

ModelMeaning malformed() {
  ModelMeaning meaning;
  meaning.malformed = true;
  return meaning;
}
ModelMeaning pending() {
  ModelMeaning meaning;
  meaning.pending = true;
  return meaning;
}
ModelMeaning final_status(std::uint8_t status) {
  ModelMeaning meaning;
  meaning.status = status;
  return meaning;
}

}  // namespace

std::optional<ModelEvent> event_from_packet(std::string_view packet) {
  if (packet.size() < 3 || at(packet, 0) != 4 || packet.size() - 3 != at(packet, 2)) return std::nullopt;
  ModelEvent event{at(packet, 1), {}};
  for (std::size_t i = 3; i < packet.size(); ++i) event.parameters.push_back(at(packet, i));
  return event;
}

ModelMeaning meaning_for_power_command(const ModelEvent& event) {
  const auto& p = event.parameters;
  // Command Complete: packets(1) opcode(2) status(1) return...; Command Status: status(1) packets(1) opcode(2).
  switch (event.code) {
    case 0x0e:
      if (p.size() < 3) return malformed();
      if (!(p[1] == 0x87 && p[2] == 0xFC)) return {};
      if (p.size() == 3) return malformed();
      return final_status(p[3]);
    case 0x0f:
      if (p.size() != 4) return malformed();
      if (!(p[2] == 0x87 && p[3] == 0xFC)) return {};
      if (p[0] == 0) return pending();
      return final_status(p[0]);
    default:
      return {};
  }
}

std::optional<ModelEvent> printed_event(std::string_view printed) {
  static const std::regex head("> HCI Event: 0x([0-9a-fA-F]{2}) plen ([0-9]{1,3})");
  static const std::regex bytes("  (?:[0-9a-fA-F]{2} )+");

  std::vector<std::string> lines;
  std::string line;
  for (const char c : printed) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);

  std::optional<std::size_t> first;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("> HCI Event: 0x", 0) != 0) continue;
    if (first) return std::nullopt;  // a second event
    first = i;
  }
  std::smatch match;
  if (!first || !std::regex_match(lines[*first], match, head)) return std::nullopt;
  const unsigned long length = std::stoul(match[2].str());
  ModelEvent event{static_cast<std::uint8_t>(std::stoul(match[1].str(), nullptr, 16)), {}};
  for (std::size_t i = *first + 1; i < lines.size(); ++i) {
    if (!std::regex_match(lines[i], bytes)) return std::nullopt;
    for (std::size_t j = 2; j + 2 < lines[i].size() + 1; j += 3)
      event.parameters.push_back(static_cast<std::uint8_t>(std::stoul(lines[i].substr(j, 2), nullptr, 16)));
  }
  if (length > 255 || event.parameters.size() != length) return std::nullopt;
  return event;
}

}  // namespace oracle
