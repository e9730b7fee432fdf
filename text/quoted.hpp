#pragma once
// Outside text quoted inside a message, so that nothing in it is invisible or ambiguous there.
#include <string>
#include <string_view>

namespace text {

// "\"text\"" with escapes: \" \\ \t \r \n \0, and \u{hex} for every other control,
// format character, unassigned or private-use code point and separator but the plain space.
// Bytes that are not UTF-8 become U+FFFD each, so the result is always valid UTF-8.
std::string quoted(std::string_view text);

// quoted() of a text that may be of any length: one longer than `limit` bytes is quoted by its
// start, cut back to a whole character, and followed by its length ("\"abc\"... (102400 bytes)").
std::string quoted_start(std::string_view text, std::size_t limit);

}  // namespace text
