// The bench tools end to end on a private bus, against the floor server: a handful of calls only.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/harness/private_bus.hpp"
#include "tests/harness/process.hpp"

namespace bench {
namespace {

using harness::ExitStatus;
using testing::HasSubstr;
using testing::MatchesRegex;
using testing::StartsWith;
using namespace std::chrono_literals;

class TheFloor : public testing::Test {
 protected:
  void SetUp() override {
    floor_ = bus_.start(BLE_BENCH_FLOOR, {.arguments = {"20"}});
    ASSERT_TRUE(bus_.wait_for_name("com.orbo.RIDEviva", floor_.get())) << floor_->standard_error();
  }
  void TearDown() override {
    if (floor_) floor_->stop();
  }

  harness::Finished load(std::vector<std::string> arguments) {
    return bus_.run(BLE_BENCH_LOAD, {.arguments = std::move(arguments)}, 30s);
  }

  harness::PrivateBus bus_;
  std::unique_ptr<harness::Process> floor_;
};

struct LoadCase {
  std::string name;
  std::vector<std::string> arguments;
  int status;
  std::string output_start;  // of standard output
  std::string error;         // all of standard error
};
void PrintTo(const LoadCase& test, std::ostream* out) { *out << test.name; }

class LoadRuns : public TheFloor, public testing::WithParamInterface<LoadCase> {};

TEST_P(LoadRuns, CheckEveryReplyAndReportOnlyCorrectRuns) {
  const auto run = load(GetParam().arguments);
  EXPECT_EQ(run.status, ExitStatus::exited(GetParam().status)) << run.standard_error;
  EXPECT_THAT(run.standard_output, StartsWith(GetParam().output_start));
  EXPECT_EQ(run.standard_error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    AgainstTheFloor, LoadRuns,
    testing::Values(LoadCase{"gets_over_two_connections",
                             {"--kind", "get", "--calls", "40", "--warmup", "8", "--connections", "2", "--depth", "4"},
                             0,
                             "kind=get calls=40 connections=2 depth=4 ",
                             ""},
                    LoadCase{"bus_ids_from_the_daemon",
                             {"--kind", "getid", "--calls", "20", "--depth", "3"},
                             0,
                             "kind=getid calls=20 connections=1 depth=3 ",
                             ""},
                    LoadCase{"a_range_other_than_the_floors",
                             {"--kind", "get", "--calls", "5", "--range", "21"},
                             1,
                             "",
                             "Error: wrong reply to call 1: Range is 20, expected 21\n"},
                    LoadCase{"getall_answered_like_get",
                             {"--kind", "getall", "--calls", "5"},
                             1,
                             "",
                             "Error: wrong reply to call 1: reply signature \"v\", expected \"a{sv}\"\n"},
                    LoadCase{"set_answered_with_a_value",
                             {"--kind", "set", "--calls", "5"},
                             1,
                             "",
                             "Error: wrong reply to call 1: reply signature \"v\", expected \"\"\n"}),
    [](const auto& test) { return test.param.name; });

TEST_F(TheFloor, HasItsCpuTimeAndMemoryReportedByTheLoadClient) {
  const auto run = load({"--kind", "get", "--calls", "30", "--server-pid", std::to_string(floor_->pid())});
  ASSERT_EQ(run.status, ExitStatus::exited(0)) << run.standard_error;
  EXPECT_THAT(run.standard_output,
              MatchesRegex(".* server_cpu_s=[0-9.]+ server_rss_kib=[1-9][0-9]* server_hwm_kib=[1-9][0-9]* "
                           "server_anon_kib=[1-9][0-9]*\n"));
}

TEST_F(TheFloor, CannotBeStartedTwiceUnderTheSameName) {
  const auto second = bus_.run(BLE_BENCH_FLOOR);
  EXPECT_EQ(second.status, ExitStatus::exited(1));
  EXPECT_EQ(second.standard_error, "Error: com.orbo.RIDEviva is owned by another process (RequestName answered 3)\n");
}

TEST(StartupTimer, TimesEveryStartAndStopsTheServerEachTime) {
  harness::PrivateBus bus;
  const auto run = bus.run(BLE_BENCH_STARTUP, {.arguments = {"--starts", "3", "--", BLE_BENCH_FLOOR}}, 30s);
  ASSERT_EQ(run.status, ExitStatus::exited(0)) << run.standard_error;
  EXPECT_THAT(run.standard_output, MatchesRegex("starts=3 median_ms=[0-9.]+ min_ms=[0-9.]+ max_ms=[0-9.]+\n"));
  // Every started floor has been stopped again: the name is free for the next owner.
  auto floor = bus.start(BLE_BENCH_FLOOR);
  EXPECT_TRUE(bus.wait_for_name("com.orbo.RIDEviva", floor.get()));
  floor->stop();
}

TEST(StartupTimer, ReportsAServerThatEndsBeforeOwningTheName) {
  harness::PrivateBus bus;
  const auto run = bus.run(BLE_BENCH_STARTUP, {.arguments = {"--starts", "2", "--", "/bin/false"}}, 30s);
  EXPECT_EQ(run.status, ExitStatus::exited(1));
  EXPECT_EQ(run.standard_error, "Error: start 1: the server exited with status 1 before owning the name\n");
}

}  // namespace
}  // namespace bench
