#pragma once
// One command sent to a controller and its answer awaited, over any way of reaching it.
#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bridge/hci_command.hpp"

namespace bridge {

using Deadline = std::chrono::steady_clock::time_point;

// How long one call may wait for the controller's answer: shorter than the caller's 5 s reply
// timeout, so that a silent controller becomes our own error reply.
inline constexpr std::chrono::milliseconds answer_time_limit{4000};

// The controller's answer: the reply text for the caller, and the status byte it ends in.
struct HciAnswer {
  std::string reply;
  std::uint8_t status = 0;
};

// How packets reach a controller: the kernel's raw HCI socket, or the simulated controller.
// Errors are complete messages.
class HciTransport {
 public:
  virtual ~HciTransport() = default;
  // One command packet, type byte first.
  virtual std::expected<void, std::string> send(std::span<const std::uint8_t> packet) = 0;
  // The next packet from the controller, or nothing once the deadline has passed.
  // BLOCKS until a packet arrives or the deadline passes.
  virtual std::expected<std::optional<std::vector<std::uint8_t>>, std::string> receive(Deadline deadline) = 0;
};

// Sends the command and reads events until one answers it or `limit` has passed. The reply
// is what the tool would have printed for the command and its answer, then the status line.
// Events about other commands are skipped; a Command Status 0 means the completion is still to
// come. BLOCKS for up to `limit`.
std::expected<HciAnswer, std::string> exchange(HciTransport& transport, const HciCommand& command,
                                               std::chrono::milliseconds limit);

}  // namespace bridge
