#pragma once
// The last command each controller accepted, kept so that it can be sent again after the
// controller is reset: a reset (every power-on starts with one) makes a controller forget a
// vendor setting such as its transmit power.
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/hci_command.hpp"

namespace bridge {

class PowerMemory {
 public:
  // Kept in `file` across restarts when given, else in memory only. Reading it logs one line:
  // what it holds, or why there is nothing to restore (missing, unreadable, corrupt).
  // BLOCKS on file I/O.
  explicit PowerMemory(std::optional<std::filesystem::path> file);

  // Remembers a command the controller accepted and writes the file anew, atomically. A file
  // that cannot be written is logged; the command is remembered in memory all the same.
  void remember(const HciCommand& command);
  const HciCommand* last_for(std::string_view controller) const;
  std::vector<HciCommand> all() const;

 private:
  std::optional<std::filesystem::path> file_;
  std::map<std::string, HciCommand, std::less<>> commands_;
};

// The file's text: one "CONTROLLER GROUP COMMAND PARAMETER" line per controller.
std::expected<std::map<std::string, HciCommand, std::less<>>, std::string> parse_power_memory(std::string_view text);

// Where systemd's StateDirectory= puts the file: the first directory of STATE_DIRECTORY.
std::optional<std::filesystem::path> power_memory_file(const char* state_directory);

}  // namespace bridge
