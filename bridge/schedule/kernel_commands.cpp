#include "bridge/schedule/kernel_commands.hpp"

#include <algorithm>

namespace bridge {

void KernelCommands::sent(std::uint16_t opcode, TimePoint now) {
  // Those taken as ended go, so that a flood of unanswered commands cannot grow the list.
  std::erase_if(unanswered_, [&](const Sent& command) { return command.at + longest_ <= now; });
  unanswered_.push_back({opcode, now});
  last_ = now;
}

void KernelCommands::answered(std::uint16_t opcode, TimePoint now) {
  // A controller answers in order: the oldest command with that opcode.
  const auto found = std::ranges::find(unanswered_, opcode, &Sent::opcode);
  if (found != unanswered_.end()) unanswered_.erase(found);
  last_ = now;
}

std::optional<TimePoint> KernelCommands::free_from() const {
  if (!last_) return std::nullopt;
  TimePoint free = *last_ + quiet_;
  for (const Sent& command : unanswered_) free = std::max(free, command.at + longest_);
  return free;
}

}  // namespace bridge
