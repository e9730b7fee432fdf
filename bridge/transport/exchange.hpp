#pragma once
// One command on its way to a controller and its answer on the way back, over any way of
// reaching the controller. The bridge's one loop drives every exchange: an exchange never
// blocks, it names the descriptors and the time it waits for, and the loop steps it when either
// comes or gives it up when the time of the call it serves is over.
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/transmit_power.hpp"

namespace bridge {

using TimePoint = std::chrono::steady_clock::time_point;

// What the caller gets in place of the controller's answer: how the simulated controller shows
// a caller the faults a bridge could have (an error reply, no argument, a number, other text).
struct StandInReply {
  enum class Kind { error, empty, number, text };
  Kind kind = Kind::text;
  std::string error_name;  // error: its name, empty for the standard Failed
  std::string text;        // error: its message; text: the text
};

// The controller's answer: the reply text for the caller, and the status byte it ends in.
struct HciAnswer {
  std::string reply;
  std::uint8_t status = 0;
  std::optional<StandInReply> instead;  // sent in place of `reply`; never counts as accepted
};

// The answer, or a complete message saying why there is none.
using ExchangeResult = std::expected<HciAnswer, std::string>;

struct ExchangeTerms {
  TimePoint deadline;               // nothing reaches the controller from then on
  std::chrono::milliseconds limit;  // the time given, as messages quote it ("within 4400 ms")
  // Try again, until the deadline, when the controller is reported down: a power-on may be
  // announced while the kernel still reports the controller down to others.
  bool retry_while_down = false;
};

class Exchange {
 public:
  virtual ~Exchange() = default;  // ends whatever still runs for it
  // What it waits on: descriptors that become readable, and a time (nothing: none).
  virtual std::vector<int> fds() const = 0;
  virtual std::optional<TimePoint> wake_time() const = 0;
  // Takes what has arrived and goes on; the result once the exchange has ended. Never blocks.
  virtual std::optional<ExchangeResult> step(TimePoint now) = 0;
  // The time is over for whoever waits: nothing more is sent (a tool is ended) and what was
  // seen of the answer is said. The exchange may still be stepped, and gives the late answer if
  // it comes, which then only tells that the controller is free again.
  virtual std::string give_up() = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends the command, or starts what sends it. The error says why nothing was sent.
  virtual std::expected<std::unique_ptr<Exchange>, std::string> start(const TransmitPower& command,
                                                                      const ExchangeTerms& terms, TimePoint now) = 0;
  // Descriptors the transport itself needs watched between exchanges, and its work when any of
  // them may be ready. Never blocks.
  virtual std::vector<int> fds() const { return {}; }
  virtual void tend() {}
};

}  // namespace bridge
