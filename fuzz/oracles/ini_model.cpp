#include "fuzz/oracles/ini_model.hpp"

#include <vector>

#include "fuzz/oracles/utf8_model.hpp"

namespace oracle {
namespace {

std::vector<std::string_view> raw_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\n') continue;
    if (i == text.size() && start == text.size()) break;  // nothing after the last line feed
    std::size_t end = i;
    if (i < text.size() && end > start && text[end - 1] == '\r') --end;
    lines.push_back(text.substr(start, end - start));
    start = i + 1;
  }
  return lines;
}

std::string located(std::size_t line, std::size_t offset, const char* what) {
  return "line " + std::to_string(line) + ":" + std::to_string(offset) + ": " + what;
}

}  // namespace

std::expected<SortedConfig, std::string> parse_ini(std::string_view utf8, const LowerCase& lower) {
  SortedConfig config;
  std::string section = "default";
  const auto lines = raw_lines(utf8);
  for (std::size_t number = 0; number < lines.size(); ++number) {
    std::string_view line = lines[number];
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == ';' || line[i] == '#') {
        line = line.substr(0, i);
        break;
      }
    }
    line = trim(line);
    if (line.empty()) continue;

    const auto open = line.find('[');
    if (open != std::string_view::npos) {
      const auto close = line.rfind(']');
      if (close == std::string_view::npos || close < open) {
        return std::unexpected(located(number, open, "Found opening bracket but no closing bracket"));
      }
      section = lower(trim(line.substr(open + 1, close - open - 1)));
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      config[section][lower(line)] = std::nullopt;
      continue;
    }
    std::string key = lower(trim(line.substr(0, equals)));
    if (key.empty()) return std::unexpected(located(number, equals, "Key cannot be empty"));
    config[section][key] = std::string(trim(line.substr(equals + 1)));
  }
  return config;
}

SortedConfig sorted(const ranged::ConfigMap& map) {
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
