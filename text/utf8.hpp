#pragma once
// UTF-8 as every layer reads it: one decoder, and the checks and repairs built on it. Text that
// crosses into libdbus must be well formed, since libdbus aborts the process on a malformed string.
#include <cstddef>
#include <string>
#include <string_view>

namespace text {

// U+FFFD, which stands in for what is not UTF-8.
inline constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// One sequence of bytes as the decoder reads it. Well formed means as libdbus accepts it:
// shortest forms only, no surrogates, nothing above U+10FFFF; U+0000 counts as well formed, and
// whether a NUL may go on is the caller's business. An ill-formed sequence is the maximal
// ill-formed subsequence: the longest start of a sequence that could still have become well
// formed, or else one byte.
struct Sequence {
  std::size_t length;  // in bytes, at least 1
  bool well_formed;
  char32_t code_point;  // U+FFFD when not well formed
};

// The one UTF-8 decoder: the sequence that starts at `at`, which must lie inside the text.
Sequence read_sequence(std::string_view text, std::size_t at) noexcept;

bool is_utf8(std::string_view text) noexcept;

// The text with every maximal ill-formed subsequence replaced by one U+FFFD, as the Unicode
// Standard recommends; well-formed text, U+0000 included, comes back unchanged.
std::string repair_utf8(std::string_view text);

// At most `limit` bytes from the start of the text, ending where a sequence ends: what the text
// starts with, short enough to quote in a message.
std::string_view leading_characters(std::string_view text, std::size_t limit) noexcept;

// Arbitrary bytes (a tool's output, a file's text) as a D-Bus string can hold them: repaired as
// above, and every NUL replaced by U+FFFD too, since libdbus would cut the string at the first.
std::string to_bus_text(std::string_view bytes);

}  // namespace text
