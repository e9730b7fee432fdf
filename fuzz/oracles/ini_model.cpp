#include "fuzz/oracles/ini_model.hpp"

#include <algorithm>
#include <vector>

#include "fuzz/oracles/utf8_model.hpp"

// The rules, as the file's writers are told: lines end at a line feed and count from 0; ';' or '#'
// starts a comment; the rest without Unicode white space at its ends is the content (an error's
// position counts its bytes). Content with a '[' names a section (from the first '[' to the last
// ']', trimmed) or, with no ']' after that '[', is refused there. Other content with '=' sets the
// key before the first '=' to the value after it (both trimmed; an empty key is refused at the
// '='); other content is a key alone. Names are folded; "default" comes first; the last line wins.

namespace oracle {
namespace {

// Each character by its role in the format: a line feed, ' ' white space, ';' a comment mark,
// '[', ']', '=', or 'x' for anything else.
char role_of(char32_t c) {
  if (c == '\n' || c == ';' || c == '[' || c == ']' || c == '=') return static_cast<char>(c);
  if (c == '#') return ';';
  return is_white_space(c) ? ' ' : 'x';
}

std::unexpected<std::string> refusal(std::size_t line, std::size_t offset, const char* what) {
  return std::unexpected("line " + std::to_string(line) + ":" + std::to_string(offset) + ": " + what);
}

}  // namespace

std::expected<SortedConfig, std::string> parse_ini(std::string_view utf8, const LowerCase& lower) {
  // The text as the roles of its characters, and where each character starts (then the end).
  const std::vector<CodePoint> points = decode_utf8(utf8).value();
  std::string roles;
  std::vector<std::size_t> starts;
  for (const CodePoint& point : points) {
    roles += role_of(point.value);
    starts.push_back(point.offset);
  }
  starts.push_back(utf8.size());
  constexpr auto none = std::string_view::npos;
  SortedConfig config;
  std::string section = "default";
  for (std::size_t line = 0, base = 0, feed = 0; base <= roles.size(); ++line, base = feed + 1) {
    feed = std::min(roles.find('\n', base), roles.size());
    const std::string_view content = std::string_view(roles).substr(base, std::min(roles.find(';', base), feed) - base);
    // Characters [from, to) of the line, without white space at either end, as the text's bytes.
    const auto text = [&](std::size_t from, std::size_t to) {
      from = std::min(content.find_first_not_of(' ', from), to);
      while (to > from && content[to - 1] == ' ') --to;
      return utf8.substr(starts[base + from], starts[base + to] - starts[base + from]);
    };
    const std::size_t first = content.find_first_not_of(' '), end = content.find_last_not_of(' ') + 1;
    if (first == none) continue;
    const std::size_t open = content.find('['), close = content.rfind(']'), equals = content.find('=');
    const auto at = [&](std::size_t i) { return starts[base + i] - starts[base + first]; };
    if (open != none && (close == none || close < open)) {
      return refusal(line, at(open), "Found opening bracket but no closing bracket");
    } else if (open != none) {
      section = lower(text(open + 1, close));
    } else if (equals == none) {
      config[section][lower(text(first, end))] = std::nullopt;
    } else if (text(first, equals).empty()) {
      return refusal(line, at(equals), "Key cannot be empty");
    } else {
      config[section][lower(text(first, equals))] = std::string(text(equals + 1, end));
    }
  }
  return config;
}

SortedConfig sorted(const src::ConfigMap& map) {
  SortedConfig config;
  for (const auto& [section, keys] : map) config[section].insert(keys.begin(), keys.end());
  return config;
}

std::string describe(const SortedConfig& config) {
  std::string text;
  for (const auto& [section, keys] : config) {
    for (const auto& [key, value] : keys) {
      text += "[" + section + "] " + key + (value ? "=" + *value : "") + "\n";
    }
  }
  return text;
}

}  // namespace oracle
