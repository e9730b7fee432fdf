#include "text/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace text {
namespace {

constexpr char32_t replacement_code_point = 0xFFFD;

Sequence ill_formed(std::size_t length) noexcept { return {length, false, replacement_code_point}; }

// Names, paths and numbers are ASCII, so most text is checked eight bytes at a time.
std::size_t skip_ascii(std::string_view text, std::size_t at) noexcept {
  constexpr std::uint64_t high_bits = 0x8080808080808080u;
  while (text.size() - at >= sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + at, sizeof word);
    if ((word & high_bits) != 0) break;
    at += sizeof word;
  }
  while (at < text.size() && static_cast<std::uint8_t>(text[at]) < 0x80) ++at;
  return at;
}

// Where the well-formed run that starts at `at` ends.
std::size_t well_formed_end(std::string_view text, std::size_t at) noexcept {
  while ((at = skip_ascii(text, at)) < text.size()) {
    const Sequence sequence = read_sequence(text, at);
    if (!sequence.well_formed) break;
    at += sequence.length;
  }
  return at;
}

}  // namespace

Sequence read_sequence(std::string_view text, std::size_t at) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  if (lead < 0x80) return {1, true, lead};

  // How many continuation bytes the lead asks for, and the range the first of them must lie in:
  // that range alone rules out overlong forms, surrogates and values above U+10FFFF.
  std::size_t needed = 0;
  std::uint8_t low = 0x80, high = 0xBF;
  char32_t code_point = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    code_point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    code_point = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    code_point = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return ill_formed(1);
  }
  std::size_t next = at + 1;
  for (std::size_t k = 0; k < needed; ++k, ++next, low = 0x80, high = 0xBF) {
    if (next == text.size() || byte(next) < low || byte(next) > high) return ill_formed(next - at);
    code_point = (code_point << 6) | (byte(next) & 0x3Fu);
  }
  return {next - at, true, code_point};
}

bool is_utf8(std::string_view text) noexcept { return well_formed_end(text, 0) == text.size(); }

std::string repair_utf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t bad = well_formed_end(text, at);
    repaired.append(text, at, bad - at);
    if (bad == text.size()) break;
    repaired += replacement_character;
    at = bad + read_sequence(text, bad).length;
  }
  return repaired;
}

std::string_view leading_characters(std::string_view text, std::size_t limit) noexcept {
  if (text.size() <= limit) return text;
  std::size_t end = 0;
  while (end < limit) {
    const std::size_t next = end + read_sequence(text, end).length;
    if (next > limit) break;
    end = next;
  }
  return text.substr(0, end);
}

std::string to_bus_text(std::string_view bytes) {
  std::string repaired = repair_utf8(bytes);
  if (repaired.find('\0') == std::string::npos) return repaired;
  // What follows a NUL matters as much as what precedes it, so each one becomes visible instead.
  std::string text;
  text.reserve(repaired.size() + 8);
  for (const char c : repaired) {
    if (c == '\0') {
      text += replacement_character;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace text
