#pragma once
// The time a command has: --timeout counts from the start, for connecting and every call
// together.
#include <algorithm>
#include <chrono>

namespace ctl {

class Deadline {
 public:
  using milliseconds = std::chrono::milliseconds;

  // `limit` may be milliseconds::max(), which never runs out.
  explicit Deadline(milliseconds limit) noexcept : start_(std::chrono::steady_clock::now()), limit_(limit) {}

  // What is left, at least a millisecond: a wait is never unbounded, and one of no time at all
  // would not even look whether the answer is there.
  milliseconds left() const noexcept {
    const auto spent = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start_);
    return std::max(limit_ - std::min(spent, limit_), milliseconds(1));
  }

 private:
  std::chrono::steady_clock::time_point start_;
  milliseconds limit_;
};

}  // namespace ctl
