#pragma once
// A ConfigMap as sorted lines "section|key=value" ("section|key" for a key without value), so
// that whole maps compare in one expectation and print readably when they differ.
#include <algorithm>
#include <string>
#include <vector>

#include "src/conf/config_file.hpp"

namespace conf_test {

inline std::string map_text(const src::ConfigMap& map) {
  std::vector<std::string> lines;
  for (const auto& [section, keys] : map) {
    for (const auto& [key, value] : keys) {
      lines.push_back(section + "|" + key + (value ? "=" + *value : std::string()));
    }
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

}  // namespace conf_test
