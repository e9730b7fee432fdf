#include "text/quoted.hpp"

#include <glib.h>

#include <cstdio>
#include <string>

#include "text/utf8.hpp"

namespace text {
namespace {

// Controls, format characters, unassigned and private-use code points and every separator
// except the plain space would be invisible or misleading in a message.
bool printable(char32_t c) {
  if (c == ' ') return true;
  switch (g_unichar_type(c)) {
    case G_UNICODE_CONTROL:
    case G_UNICODE_FORMAT:
    case G_UNICODE_UNASSIGNED:
    case G_UNICODE_PRIVATE_USE:
    case G_UNICODE_SURROGATE:
    case G_UNICODE_LINE_SEPARATOR:
    case G_UNICODE_PARAGRAPH_SEPARATOR:
    case G_UNICODE_SPACE_SEPARATOR: return false;
    default: return true;
  }
}

void append_escaped(std::string& out, char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "\\u{%x}", static_cast<unsigned>(c));
  out += code;
}

// Appends one well-formed character, escaped where it would be invisible or ambiguous.
void append_character(std::string& out, std::string_view bytes, char32_t c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\0': out += "\\0"; return;
    default:
      if (printable(c)) {
        out += bytes;
      } else {
        append_escaped(out, c);
      }
  }
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const Sequence sequence = read_sequence(text, at);
    if (!sequence.well_formed) {
      // Each byte of it on its own, as the reply must still be valid UTF-8.
      out += replacement_character;
      ++at;
      continue;
    }
    append_character(out, text.substr(at, sequence.length), sequence.code_point);
    at += sequence.length;
  }
  out += '"';
  return out;
}

std::string quoted_start(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return quoted(text);
  return quoted(leading_characters(text, limit)) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace text
