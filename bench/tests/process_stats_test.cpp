#include <gtest/gtest.h>

#include <string>

#include "bench/load/process_stats.hpp"

namespace bench {
namespace {

struct StatCase {
  std::string name;
  std::string stat;
  std::uint64_t ticks;  // 0 with `error` set means a refusal
  std::string error;
};
void PrintTo(const StatCase& test, std::ostream* out) { *out << test.name; }

class CpuTicks : public testing::TestWithParam<StatCase> {};

TEST_P(CpuTicks, AreUserPlusSystemTimeAfterTheCommandName) {
  const auto ticks = cpu_ticks_from_stat(GetParam().stat);
  if (GetParam().error.empty()) {
    ASSERT_TRUE(ticks.has_value()) << ticks.error();
    EXPECT_EQ(*ticks, GetParam().ticks);
  } else {
    ASSERT_FALSE(ticks.has_value());
    EXPECT_EQ(ticks.error(), GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    StatLines, CpuTicks,
    testing::Values(
        StatCase{"plain", "4242 (ble-ranged) S 1 4242 4242 0 -1 4194560 310 0 0 0 87 13 0 0 20 0 1 0 123 9000 800\n",
                 100, ""},
        StatCase{"name_with_blanks_and_parentheses", "77 (a) b (c)) R 1 77 77 0 -1 0 0 0 0 0 5 6 0 0 20 0 1 0 1 1 1\n",
                 11, ""},
        StatCase{"no_name", "77 a R 1 77", 0, "malformed /proc stat: no command name"},
        StatCase{"cut_short", "77 (x) R 1 77 77 0 -1 0 0 0 0 0 5", 0, "malformed /proc stat: no utime and stime"},
        StatCase{"not_numbers", "77 (x) R 1 77 77 0 -1 0 0 0 0 0 5 x 0", 0,
                 "malformed /proc stat: no utime and stime"}),
    [](const auto& test) { return test.param.name; });

TEST(MemoryUse, ComesFromTheTabbedStatusLines) {
  const std::string status =
      "Name:\tble-ranged\nVmPeak:\t   10000 kB\nVmHWM:\t    3300 kB\nVmRSS:\t    3100 kB\n"
      "RssAnon:\t     412 kB\nRssFile:\t    2688 kB\n";
  const auto memory = memory_from_status(status);
  ASSERT_TRUE(memory.has_value()) << memory.error();
  EXPECT_EQ(memory->rss_kib, 3100u);
  EXPECT_EQ(memory->peak_kib, 3300u);
  EXPECT_EQ(memory->anon_kib, 412u);
}

TEST(MemoryUse, IsRefusedWhenALineIsMissingOrMalformed) {
  const auto missing = memory_from_status("VmHWM:\t 1 kB\nRssAnon:\t 1 kB\n");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), "no VmRSS: in /proc status");

  const auto in_other_line = memory_from_status("XVmRSS:\t 1 kB\nVmHWM:\t 1 kB\nRssAnon:\t 1 kB\n");
  ASSERT_FALSE(in_other_line.has_value());
  EXPECT_EQ(in_other_line.error(), "no VmRSS: in /proc status");

  const auto no_unit = memory_from_status("VmRSS:\t 1\nVmHWM:\t 1 kB\nRssAnon:\t 1 kB\n");
  ASSERT_FALSE(no_unit.has_value());
  EXPECT_EQ(no_unit.error(), "malformed VmRSS: line in /proc status");
}

TEST(ProcessStats, ReadThisProcessFromProc) {
  const auto memory = process_memory(getpid());
  ASSERT_TRUE(memory.has_value()) << memory.error();
  EXPECT_GT(memory->rss_kib, 0u);
  EXPECT_GE(memory->peak_kib, memory->rss_kib);
  EXPECT_TRUE(process_cpu_time(getpid()).has_value());
}

}  // namespace
}  // namespace bench
