#pragma once
// The commands the kernel has on their way to one controller: a power-on's set-up, the
// management channel's settings, another program's command through the kernel's queue. A vendor
// command from a raw socket bypasses that queue, so one of ours sent among them would be a second
// command in flight, beyond what a controller allows, and the kernel would take its answer for
// its own. Ours goes only once every command seen has been answered and none has been seen for a
// short quiet time, as the kernel sends the next one of a sequence as soon as the last is answered.
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "bridge/transport/exchange.hpp"

namespace bridge {

class KernelCommands {
 public:
  // `quiet`: the time without a command or an answer; `longest`: a command still unanswered
  // after this is taken as ended, as the kernel itself gives up on it.
  KernelCommands(std::chrono::milliseconds quiet, std::chrono::milliseconds longest) noexcept
      : quiet_(quiet), longest_(longest) {}

  void sent(std::uint16_t opcode, TimePoint now);
  void answered(std::uint16_t opcode, TimePoint now);

  // When a command of ours may go; none: nothing was seen, it may go at any time.
  std::optional<TimePoint> free_from() const;

 private:
  struct Sent {
    std::uint16_t opcode;
    TimePoint at;
  };
  std::chrono::milliseconds quiet_;
  std::chrono::milliseconds longest_;
  std::vector<Sent> unanswered_;
  std::optional<TimePoint> last_;
};

}  // namespace bridge
