#pragma once
// The simulated controller's control file: key=value lines that say how the emulated controller
// answers, read again for every command so that a test or a demo can change it while the
// bridge runs.
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

// What the caller is sent: the controller's answer (output), or in its place a fault a bridge
// could show.
enum class SimulatedReply { output, error, empty, uint32, text };
// How the controller answers the command.
enum class SimulatedAnswer { complete, status, pending, none };
// What the controller sends before its answer.
enum class SimulatedNoise { none, packets, advertising, other };

struct SimulationControl {
  int status = 0;                   // the status byte, -128 to 255 (negative ones as signed bytes)
  std::vector<std::uint8_t> extra;  // return parameters after the status
  SimulatedAnswer answer = SimulatedAnswer::complete;
  SimulatedNoise before = SimulatedNoise::none;
  std::chrono::milliseconds delay{0};  // the controller answers this late
  SimulatedReply reply = SimulatedReply::output;
  std::optional<std::string> error_name;  // none: the standard Failed
  std::string error_message = "simulated failure";
  std::string text;
};

// Upper bound of delay_ms: longer than any call may wait, short enough to show a typo.
inline constexpr std::chrono::milliseconds longest_simulated_delay{60000};
inline constexpr std::size_t largest_control_file = 64 * 1024;

// key=value lines; blank lines and lines starting with '#' are skipped, a CR before the line
// feed is dropped. Keys: status, extra, answer, before, delay_ms, reply, error_name,
// error_message, text (which takes the escapes \n, \r, \t and a doubled backslash). The error
// names the line.
std::expected<SimulationControl, std::string> parse_control(std::string_view content);
// A missing file gives the defaults. BLOCKS on file I/O.
std::expected<SimulationControl, std::string> load_control(const std::filesystem::path& file);

}  // namespace bridge
