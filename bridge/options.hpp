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
  bool simulate = false;
  std::optional<std::string> hcitool;  // run this tool instead of using our own socket
  std::optional<std::filesystem::path> control;
  std::optional<std::filesystem::path> log;
  std::vector<uid_t> allowed_users;  // besides root
};

// Arguments after the program name. User names are resolved here, once (getpwnam BLOCKS on NSS).
std::expected<BridgeOptions, std::string> parse_options(std::span<const std::string_view> args);

std::string_view help_text() noexcept;

// Root is always allowed.
bool is_allowed(const BridgeOptions& options, uid_t uid) noexcept;

}  // namespace bridge
