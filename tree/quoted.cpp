// Quoting of outside text for error messages, so that nothing invisible or ambiguous reaches a client.
#include <glib.h>

#include <cstdio>
#include <string>

#include "tree/properties.hpp"

namespace tree {
namespace {

// Controls, format characters, unassigned and private-use code points and every separator
// except the plain space would be invisible or misleading in a message.
bool printable(gunichar c) {
  if (c == ' ') return true;
  switch (g_unichar_type(c)) {
    case G_UNICODE_CONTROL:
    case G_UNICODE_FORMAT:
    case G_UNICODE_UNASSIGNED:
    case G_UNICODE_PRIVATE_USE:
    case G_UNICODE_SURROGATE:
    case G_UNICODE_LINE_SEPARATOR:
    case G_UNICODE_PARAGRAPH_SEPARATOR:
    case G_UNICODE_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

void append_escaped(std::string& out, gunichar c) {
  char code[16];
  std::snprintf(code, sizeof code, "\\u{%x}", static_cast<unsigned>(c));
  out += code;
}

void append_ascii(std::string& out, char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\0': out += "\\0"; return;
    default:
      if (printable(static_cast<gunichar>(c))) {
        out += c;
      } else {
        append_escaped(out, static_cast<gunichar>(c));
      }
  }
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string out = "\"";
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      append_ascii(out, text[at]);
      ++at;
      continue;
    }
    const gunichar c = g_utf8_get_char_validated(text.data() + at, static_cast<gssize>(text.size() - at));
    if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
      // Not UTF-8: the reply must still be valid UTF-8, so the byte becomes U+FFFD.
      out += "\xEF\xBF\xBD";
      ++at;
      continue;
    }
    const std::size_t length = g_utf8_skip[lead];
    if (printable(c)) {
      out.append(text.substr(at, length));
    } else {
      append_escaped(out, c);
    }
    at += length;
  }
  out += '"';
  return out;
}

}  // namespace tree
