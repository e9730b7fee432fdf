#pragma once
// When to try again something that keeps failing: at once the first time, then after a first
// delay, each further delay twice the last, never longer than the longest.
#include <algorithm>
#include <chrono>
#include <optional>

#include "bridge/transport/exchange.hpp"

namespace bridge {

class Backoff {
 public:
  Backoff(std::chrono::milliseconds first, std::chrono::milliseconds longest) noexcept
      : first_(first), longest_(longest), delay_(first) {}

  bool due(TimePoint now) const noexcept { return !next_ || now >= *next_; }
  // None: at once.
  std::optional<TimePoint> next() const noexcept { return next_; }
  int failures() const noexcept { return failures_; }

  void failed(TimePoint now) noexcept {
    next_ = now + delay_;
    delay_ = std::min(delay_ * 2, longest_);
    ++failures_;
  }
  // Something has changed, or it worked: the next try may come at once.
  void reset() noexcept {
    next_.reset();
    delay_ = first_;
    failures_ = 0;
  }

 private:
  std::chrono::milliseconds first_;
  std::chrono::milliseconds longest_;
  std::chrono::milliseconds delay_;
  std::optional<TimePoint> next_;
  int failures_ = 0;
};

}  // namespace bridge
