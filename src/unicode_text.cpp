#include "src/unicode_text.hpp"

#include <glib.h>

#include <array>
#include <cstddef>
#include <memory>

namespace ranged {
namespace {

struct Decoded {
  char32_t character;
  std::size_t length;
};

unsigned char byte_at(std::string_view text, std::size_t i) noexcept { return static_cast<unsigned char>(text[i]); }

// Decodes the character starting at `i` of valid UTF-8.
Decoded decode_at(std::string_view utf8, std::size_t i) noexcept {
  unsigned char lead = byte_at(utf8, i);
  std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
  for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) c = (c << 6) | (byte_at(utf8, i + k) & 0x3Fu);
  return {c, length};
}

// The start of the character that ends just before `end`.
std::size_t previous_start(std::string_view utf8, std::size_t end) noexcept {
  std::size_t i = end - 1;
  while (i > 0 && (byte_at(utf8, i) & 0xC0) == 0x80) --i;
  return i;
}

constexpr char32_t capital_sigma = 0x03A3;

bool is_cased(char32_t c) noexcept {
  switch (g_unichar_type(c)) {
    case G_UNICODE_LOWERCASE_LETTER:
    case G_UNICODE_UPPERCASE_LETTER:
    case G_UNICODE_TITLECASE_LETTER: return true;
    default: return g_unichar_tolower(c) != c || g_unichar_toupper(c) != c;
  }
}

// Marks, format characters, modifiers and the word-internal punctuation that case rules look through.
bool is_case_ignorable(char32_t c) noexcept {
  switch (g_unichar_type(c)) {
    case G_UNICODE_NON_SPACING_MARK:
    case G_UNICODE_ENCLOSING_MARK:
    case G_UNICODE_FORMAT:
    case G_UNICODE_MODIFIER_LETTER:
    case G_UNICODE_MODIFIER_SYMBOL: return true;
    default: break;
  }
  static constexpr std::array<char32_t, 17> word_internal = {0x0027, 0x002E, 0x003A, 0x00B7, 0x0387, 0x055F,
                                                             0x05F4, 0x2018, 0x2019, 0x2024, 0x2027, 0xFE13,
                                                             0xFE52, 0xFE55, 0xFF07, 0xFF0E, 0xFF1A};
  for (char32_t w : word_internal) {
    if (c == w) return true;
  }
  return false;
}

// A capital sigma ends a word when a cased letter comes before it and none after it, looking
// through case-ignorable characters. GLib only looks at the next character, so this is ours.
bool sigma_is_final(std::string_view utf8, std::size_t at) noexcept {
  bool cased_before = false;
  for (std::size_t i = at; i > 0;) {
    i = previous_start(utf8, i);
    char32_t c = decode_at(utf8, i).character;
    if (is_case_ignorable(c)) continue;
    cased_before = is_cased(c);
    break;
  }
  if (!cased_before) return false;
  for (std::size_t i = at + decode_at(utf8, at).length; i < utf8.size();) {
    Decoded d = decode_at(utf8, i);
    if (!is_case_ignorable(d.character)) return !is_cased(d.character);
    i += d.length;
  }
  return true;
}

struct GFreeDeleter {
  void operator()(gchar* p) const noexcept { g_free(p); }
};

bool is_ascii(std::string_view text) noexcept {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// GLib's mapping is context-free for everything but sigma, and it stops at U+0000. In ASCII it
// only maps A to Z, and doing that here keeps GLib's case tables out of memory for the usual file.
void append_glib_lower_case(std::string& out, std::string_view utf8) {
  if (utf8.empty()) return;
  if (is_ascii(utf8)) {
    for (char c : utf8) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return;
  }
  std::unique_ptr<gchar, GFreeDeleter> lowered(g_utf8_strdown(utf8.data(), static_cast<gssize>(utf8.size())));
  if (!lowered) g_error("g_utf8_strdown failed");
  out += lowered.get();
}

}  // namespace

bool is_white_space(char32_t c) noexcept {
  return (c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x0085 || c == 0x00A0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view utf8) noexcept {
  std::size_t begin = 0;
  while (begin < utf8.size()) {
    Decoded d = decode_at(utf8, begin);
    if (!is_white_space(d.character)) break;
    begin += d.length;
  }
  std::size_t end = utf8.size();
  while (end > begin) {
    std::size_t start = previous_start(utf8, end);
    if (!is_white_space(decode_at(utf8, start).character)) break;
    end = start;
  }
  return utf8.substr(begin, end - begin);
}

std::optional<std::string_view> last_token(std::string_view utf8) noexcept {
  std::size_t end = utf8.size();
  while (end > 0) {
    std::size_t start = previous_start(utf8, end);
    if (!is_white_space(decode_at(utf8, start).character)) break;
    end = start;
  }
  if (end == 0) return std::nullopt;
  std::size_t begin = end;
  while (begin > 0) {
    std::size_t start = previous_start(utf8, begin);
    if (is_white_space(decode_at(utf8, start).character)) break;
    begin = start;
  }
  return utf8.substr(begin, end - begin);
}

std::string lower_case(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t segment = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    Decoded d = decode_at(utf8, i);
    if (d.character == capital_sigma || d.character == 0) {
      append_glib_lower_case(out, utf8.substr(segment, i - segment));
      if (d.character == 0) {
        out += '\0';
      } else {
        out += sigma_is_final(utf8, i) ? "\u03C2" : "\u03C3";
      }
      segment = i + d.length;
    }
    i += d.length;
  }
  append_glib_lower_case(out, utf8.substr(segment));
  return out;
}

}  // namespace ranged
