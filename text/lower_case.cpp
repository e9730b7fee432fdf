#include "text/lower_case.hpp"

#include <glib.h>

#include <array>
#include <cstddef>
#include <memory>

#include "text/utf8.hpp"

namespace text {
namespace {

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

// Whether the nearest character before a position that case rules do not look through is a
// cased one. Asked for positions in increasing order, it reads each character once, and only
// for text that holds a capital sigma.
class CasedBefore {
 public:
  explicit CasedBefore(std::string_view utf8) noexcept : utf8_(utf8) {}

  bool at(std::size_t position) noexcept {
    while (read_ < position) {
      const Sequence sequence = read_sequence(utf8_, read_);
      if (!is_case_ignorable(sequence.code_point)) cased_ = is_cased(sequence.code_point);
      read_ += sequence.length;
    }
    return cased_;
  }

 private:
  std::string_view utf8_;
  std::size_t read_ = 0;
  bool cased_ = false;
};

// Whether the nearest character from `position` on that case rules do not look through is a
// cased one; false when there is none.
bool cased_after(std::string_view utf8, std::size_t position) noexcept {
  for (std::size_t at = position; at < utf8.size();) {
    const Sequence sequence = read_sequence(utf8, at);
    if (!is_case_ignorable(sequence.code_point)) return is_cased(sequence.code_point);
    at += sequence.length;
  }
  return false;
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

std::string lower_case(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  // A capital sigma ends a word when a cased letter comes before it and none after it, looking
  // through case-ignorable characters. GLib only looks at the next character, so this is ours.
  CasedBefore cased_before(utf8);
  std::size_t segment = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    const Sequence sequence = read_sequence(utf8, at);
    if (sequence.code_point == capital_sigma || sequence.code_point == 0) {
      append_glib_lower_case(out, utf8.substr(segment, at - segment));
      if (sequence.code_point == 0) {
        out += '\0';
      } else {
        const bool final = cased_before.at(at) && !cased_after(utf8, at + sequence.length);
        out += final ? "\u03C2" : "\u03C3";
      }
      segment = at + sequence.length;
    }
    at += sequence.length;
  }
  append_glib_lower_case(out, utf8.substr(segment));
  return out;
}

}  // namespace text
