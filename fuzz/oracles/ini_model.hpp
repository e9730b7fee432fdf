#pragma once
// The configuration file's INI rules, written a second time from the format's rules rather than
// the reader's steps: each character gets a letter for its role, and the rules work on those.
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "src/conf/config_file.hpp"

namespace oracle {

// Ordered, so that two readings compare and print the same way.
using SortedConfig = std::map<std::string, std::map<std::string, std::optional<std::string>>>;
using LowerCase = std::function<std::string(std::string_view)>;

// `utf8` must be well-formed. `lower` folds section and key names.
std::expected<SortedConfig, std::string> parse_ini(std::string_view utf8, const LowerCase& lower);

SortedConfig sorted(const src::ConfigMap& map);

// For failure messages: one "[section] key=value" or "[section] key" per line.
std::string describe(const SortedConfig& config);

}  // namespace oracle
