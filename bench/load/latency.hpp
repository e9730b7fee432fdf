#pragma once
// Round-trip times of the measured calls and their percentiles.
#include <chrono>
#include <cstdint>
#include <vector>

namespace bench {

class LatencyRecord {
 public:
  void reserve(std::size_t calls) { samples_.reserve(calls); }
  void add(std::chrono::nanoseconds sample) {
    samples_.push_back(sample);
    sorted_ = false;
  }
  std::size_t size() const noexcept { return samples_.size(); }

  // Nearest-rank percentile (0 < percent <= 100); zero when nothing was recorded.
  std::chrono::nanoseconds percentile(double percent);

 private:
  std::vector<std::chrono::nanoseconds> samples_;
  bool sorted_ = false;
};

}  // namespace bench
