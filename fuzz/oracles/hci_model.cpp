#include "fuzz/oracles/hci_model.hpp"

#include <algorithm>
#include <cctype>
#include <sstream>
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
    default: return {};
  }
}

std::optional<ModelEvent> printed_event(std::string_view printed) {
  // Each line is cut into blank-separated words and drawn again from them: a line that does not
  // come back the same had blanks where the tool never puts them.
  const auto words = [](const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string word; in >> word;) out.push_back(word);
    return out;
  };
  const auto is_hex = [](const std::string& word) {
    return std::all_of(word.begin(), word.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
  };

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
  if (!first) return std::nullopt;
  const auto head = words(lines[*first]);
  if (head.size() != 6 || "> HCI Event: " + head[3] + " plen " + head[5] != lines[*first]) return std::nullopt;
  const std::string code = head[3].substr(2), length = head[5];
  if (code.size() != 2 || !is_hex(code) || length.empty() || length.size() > 3 ||
      !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;

  ModelEvent event{static_cast<std::uint8_t>(std::stoul(code, nullptr, 16)), {}};
  for (std::size_t i = *first + 1; i < lines.size(); ++i) {
    const auto bytes = words(lines[i]);
    std::string drawn = " ";
    for (const auto& byte : bytes) drawn += " " + byte;
    if (bytes.empty() || drawn + " " != lines[i]) return std::nullopt;
    for (const auto& byte : bytes) {
      if (byte.size() != 2 || !is_hex(byte)) return std::nullopt;
      event.parameters.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    }
  }
  if (std::stoul(length) > 255 || event.parameters.size() != std::stoul(length)) return std::nullopt;
  return event;
}

}  // namespace oracle
