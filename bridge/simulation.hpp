#pragma once
// The emulated controller for test rigs and demos. It answers at the level of HCI packets, so
// the bridge reads its answers with the same code as a real controller's. A small control file,
// read again for every call, steers both the controller and, for fault tests, the bridge's reply.
#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/hci_exchange.hpp"

namespace bridge {

// How the bridge replies on the bus: through the emulated controller (output), or by a fault
// of its own that a real bridge could show.
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
  std::chrono::milliseconds delay{0};  // the bridge stalls this long before it replies
  SimulatedReply reply = SimulatedReply::output;
  std::optional<std::string> error_name;  // none: the standard Failed
  std::string error_message = "simulated failure";
  std::string text;
};

// Upper bound of delay_ms: long enough to outlast any caller's timeout, short enough that a
// typo cannot park the bridge for good.
inline constexpr std::chrono::milliseconds longest_simulated_delay{60000};

// key=value lines; blank lines and lines starting with '#' are skipped. Keys: status, extra,
// answer, before, delay_ms, reply, error_name, error_message, text (which takes the escapes
// \n, \r, \t and a doubled backslash).
std::expected<SimulationControl, std::string> parse_control(std::string_view content);
// A missing file gives the defaults. BLOCKS on file I/O.
std::expected<SimulationControl, std::string> load_control(const std::filesystem::path& file);

class SimulatedController final : public HciTransport {
 public:
  explicit SimulatedController(SimulationControl control) : control_(std::move(control)) {}

  // Takes one command packet and lines up the controller's events for it.
  std::expected<void, std::string> send(std::span<const std::uint8_t> packet) override;
  // The next lined-up event; with none left, nothing once the deadline has passed, as from a
  // controller that stays silent. BLOCKS until the deadline then.
  std::expected<std::optional<std::vector<std::uint8_t>>, std::string> receive(Deadline deadline) override;

 private:
  SimulationControl control_;
  std::deque<std::vector<std::uint8_t>> events_;
};

}  // namespace bridge
