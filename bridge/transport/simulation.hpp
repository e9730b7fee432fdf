#pragma once
// The emulated controllers of test rigs, demos and the bridge's own tests. They answer at the
// level of HCI packets, read with the same code as a real controller's, and their lateness is
// a time on the loop's clock, never a sleep.
#include <cstddef>
#include <deque>
#include <expected>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bridge/transport/control_file.hpp"
#include "bridge/transport/exchange.hpp"

namespace bridge {

// How a controller answers the next command; an error is the call's error.
using ControlSource = std::function<std::expected<SimulationControl, std::string>(const TransmitPower& command)>;

// The control file, read again for every command.
ControlSource control_file(std::filesystem::path file);

class SimulatedControllers final : public Transport {
 public:
  explicit SimulatedControllers(ControlSource control) : control_(std::move(control)) {}

  // Takes the command packet and lines up the controller's events for it, due `delay` later.
  std::expected<std::unique_ptr<Exchange>, std::string> start(const TransmitPower& command, const ExchangeTerms& terms,
                                                              TimePoint now) override;

  // The last commands that reached a controller, oldest first (at most `kept_commands`), and
  // how many did in all.
  static constexpr std::size_t kept_commands = 64;
  const std::deque<TransmitPower>& received() const noexcept { return received_; }
  std::size_t received_count() const noexcept { return received_count_; }

 private:
  ControlSource control_;
  std::deque<TransmitPower> received_;
  std::size_t received_count_ = 0;
};

}  // namespace bridge
