#include "bridge/utf8.hpp"

#include "dbus/utf8.hpp"

namespace bridge {

std::string to_bus_text(std::string_view bytes) {
  std::string repaired = dbus::repair_utf8(bytes);
  if (repaired.find('\0') == std::string::npos) return repaired;
  // libdbus would cut the string at the first NUL, and what follows it matters as much.
  std::string text;
  text.reserve(repaired.size() + 8);
  for (const char c : repaired) {
    if (c == '\0') {
      text += "\xEF\xBF\xBD";
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace bridge
