#pragma once
// The bridge's command line.
#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

struct BridgeOptions {
  bool help = false;
  bool version = false;
  bool simulate = false;
  std::optional<std::string> hcitool;  // run this tool instead of using our own socket
  std::optional<std::filesystem::path> control;
  std::optional<std::filesystem::path> log;
  std::vector<uid_t> allowed_users;  // served besides root, and their levels remembered
};

// Arguments after the program name, or why they make no command line (a usage error, without
// "Error: " or where help is). User names are resolved here, once (getpwnam BLOCKS on NSS).
std::expected<BridgeOptions, std::string> parse_options(std::span<const std::string_view> args);

std::string_view help_text() noexcept;

// Root is always served.
bool is_allowed(const BridgeOptions& options, uid_t uid) noexcept;
// Whose accepted levels are the service's, to be sent again at power-on: only the accounts
// given with --allow-user. Root's calls are otherwise a one-off diagnosis.
bool is_remembered(const BridgeOptions& options, uid_t uid) noexcept;

}  // namespace bridge
