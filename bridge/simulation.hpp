#pragma once
// The emulated controller for test rigs and demos: answers shaped like the tool's, steered by a
// small control file that is read again for every call.
#include <chrono>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "bridge/hci_command.hpp"

namespace bridge {

enum class SimulatedReply { output, error, empty, uint32, text };

struct SimulationControl {
  int status = 0;
  std::chrono::milliseconds delay{0};
  SimulatedReply reply = SimulatedReply::output;
  std::string error_name = "org.freedesktop.DBus.Error.Failed";
  std::string error_message = "simulated failure";
  std::string text;
};

// Upper bound of delay_ms: long enough to outlast any caller's timeout, short enough that a
// typo cannot park the bridge for good.
inline constexpr std::chrono::milliseconds longest_simulated_delay{60000};

// key=value lines; blank lines and lines starting with '#' are skipped. Keys: status, delay_ms,
// reply, error_name, error_message, text (with \n, \r, \t and \\ escapes).
std::expected<SimulationControl, std::string> parse_control(std::string_view content);
// A missing file gives the defaults. BLOCKS on file I/O.
std::expected<SimulationControl, std::string> load_control(const std::filesystem::path& file);

// The command echo and a Command Complete event whose last byte is the status, printed in
// decimal (at least two digits, so 0 to 9 read like the tool's hex bytes).
std::string simulated_output(const HciCommand& command, int status);

}  // namespace bridge
