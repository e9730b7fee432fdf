#pragma once
// The time the bridge's deadlines are measured in: the monotonic clock, or a test's own.
#include <chrono>

#include "bridge/transport/exchange.hpp"

namespace bridge {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
};

class SteadyClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace bridge
