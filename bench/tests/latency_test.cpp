#include <gtest/gtest.h>

#include "bench/load/latency.hpp"

namespace bench {
namespace {

using std::chrono::nanoseconds;

TEST(LatencyPercentiles, AreNearestRankOverTheSortedSamples) {
  LatencyRecord record;
  for (int sample : {9, 1, 8, 2, 7, 3, 6, 4, 5, 10}) record.add(nanoseconds{sample * 100});
  const std::vector<std::pair<double, int>> expected{{10, 1}, {50, 5}, {51, 6}, {90, 9}, {99, 10}, {100, 10}};
  for (const auto& [percent, sample] : expected)
    EXPECT_EQ(record.percentile(percent), nanoseconds{sample * 100}) << percent;
}

TEST(LatencyPercentiles, OfOneSampleAreThatSampleAndOfNoneZero) {
  LatencyRecord empty;
  EXPECT_EQ(empty.percentile(50), nanoseconds{0});
  LatencyRecord one;
  one.add(nanoseconds{1234});
  EXPECT_EQ(one.percentile(1), nanoseconds{1234});
  EXPECT_EQ(one.percentile(99), nanoseconds{1234});
}

TEST(LatencyPercentiles, StaySortedWhenSamplesArriveAfterAQuery) {
  LatencyRecord record;
  record.add(nanoseconds{5});
  record.add(nanoseconds{1});
  EXPECT_EQ(record.percentile(100), nanoseconds{5});
  record.add(nanoseconds{3});
  EXPECT_EQ(record.percentile(50), nanoseconds{3});
}

}  // namespace
}  // namespace bench
