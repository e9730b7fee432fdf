#pragma once
// The file that keeps the transmit power per controller across restarts: one
// "hci0 0x3f 0x0087 0xa" line per controller. It lies in a directory of the bridge's own, and
// is still never read or written through a symbolic link.
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/transmit_power.hpp"

namespace bridge {

using PowerByController = std::map<std::string, TransmitPower, std::less<>>;

struct StateFileContent {
  PowerByController powers;        // a controller's last line wins
  std::vector<int> refused_lines;  // numbers of the lines that are not a transmit-power command
};

StateFileContent parse_state_file(std::string_view text);
std::string state_file_text(const PowerByController& powers);

inline constexpr std::size_t largest_state_file = 64 * 1024;

// The file's text, or nothing when there is no file. A symbolic link, anything but a regular
// file, or more than largest_state_file bytes is an error. BLOCKS on file I/O.
std::expected<std::optional<std::string>, std::string> read_state_file(const std::filesystem::path& file);

// A new file beside it, created exclusively (never through an existing name or a link), synced,
// then renamed over it, which replaces whatever the name held; a crash leaves one or the other.
// BLOCKS on file I/O and fsync.
std::expected<void, std::string> write_state_file(const std::filesystem::path& file, std::string_view text);

// Where systemd's StateDirectory= puts the file: the first directory of STATE_DIRECTORY.
std::optional<std::filesystem::path> state_file_path(const char* state_directory);

}  // namespace bridge
