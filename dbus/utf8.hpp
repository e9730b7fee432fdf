#pragma once
// UTF-8 checks for text crossing into libdbus, which aborts the process on a malformed string.
// Nothing here calls libdbus, so programs that only prepare text for the bus can use it too.
#include <string>
#include <string_view>

namespace dbus {

// Well-formed UTF-8 as libdbus accepts it: shortest forms only, no surrogates, nothing above
// U+10FFFF. U+0000 counts as well formed; whether a NUL may go on is the caller's business.
bool is_utf8(std::string_view text) noexcept;

// The text with every maximal ill-formed subsequence (the longest start of a sequence that could
// still have become well formed, or else one byte) replaced by one U+FFFD, as the Unicode
// Standard recommends; well-formed text, U+0000 included, comes back unchanged.
std::string repair_utf8(std::string_view text);

// At most `limit` bytes from the start of the text, cut back so that no character is split:
// what the text starts with, short enough to quote in a message.
std::string_view leading_characters(std::string_view text, std::size_t limit) noexcept;

// Arbitrary bytes (a tool's output, a file's text) as a D-Bus string can hold them: repaired as
// above, and every NUL replaced by U+FFFD too, since libdbus would cut the string at the first.
std::string to_bus_text(std::string_view bytes);

}  // namespace dbus
