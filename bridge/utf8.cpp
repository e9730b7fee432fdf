#include "bridge/utf8.hpp"

#include <cstddef>

namespace bridge {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Length of the well-formed sequence at the start of `bytes`, or 0.
std::size_t sequence_length(std::string_view bytes) noexcept {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead >= 0x01 && lead <= 0x7F) return 1;

  std::size_t length = 0;
  unsigned char second_min = 0x80, second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_min = 0xA0;  // overlong
    if (lead == 0xED) second_max = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_min = 0x90;  // overlong
    if (lead == 0xF4) second_max = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  if (at(1) < second_min || at(1) > second_max) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (!is_continuation(at(i))) return 0;
  return length;
}

}  // namespace

std::string to_bus_text(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t length = sequence_length(bytes);
    if (length == 0) {
      text += replacement;
      bytes.remove_prefix(1);
    } else {
      text += bytes.substr(0, length);
      bytes.remove_prefix(length);
    }
  }
  return text;
}

}  // namespace bridge
