#pragma once
// SIGINT and SIGTERM as a readable descriptor, so that a loop waiting on the bus ends cleanly on
// either, between two lines, instead of being killed in the middle of one.
#include <expected>
#include <string>

#include "platform/fd/unique_fd.hpp"

namespace ctl {

class StopSignals {
 public:
  // Blocks both signals for the whole process, so they wait on the descriptor instead of ending
  // it. Before any thread starts, then; this program starts none.
  static std::expected<StopSignals, std::string> open();

  // Readable once either signal has arrived.
  int fd() const noexcept { return fd_.get(); }

 private:
  explicit StopSignals(platform::UniqueFd fd) noexcept : fd_(std::move(fd)) {}
  platform::UniqueFd fd_;
};

}  // namespace ctl
