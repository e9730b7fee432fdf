#include "bench/load/latency.hpp"

#include <algorithm>
#include <cmath>

namespace bench {

std::chrono::nanoseconds LatencyRecord::percentile(double percent) {
  if (samples_.empty()) return std::chrono::nanoseconds{0};
  if (!sorted_) {
    std::sort(samples_.begin(), samples_.end());
    sorted_ = true;
  }
  const double rank = std::ceil(percent / 100.0 * static_cast<double>(samples_.size()));
  const auto index = static_cast<std::size_t>(std::clamp(rank, 1.0, static_cast<double>(samples_.size()))) - 1;
  return samples_[index];
}

}  // namespace bench
