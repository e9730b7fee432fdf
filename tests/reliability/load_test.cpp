// 20 connections send 10,000 mixed requests, valid and invalid, while one Set waits on a slow
// bridge: every request is answered as it must be and in the order each connection asked, the
// service survives, and its resident memory does not grow from one round of load to the next.
// Ten rounds, 100,000 requests; BLE_LOAD_ROUNDS sets another number for longer soaks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/integration/service_rig.hpp"
#include "tests/reliability/mixed_load.hpp"
#include "tests/reliability/process_state.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using harness::BusClient;
using harness::describe;

// Growth allowed between the first and the last round: allocator slack, not a leak, which
// would grow with every round of 10,000.
constexpr std::size_t allowed_growth_kib = 512;
// The first round leaves libdbus's buffers sized for the backlog behind the slow Set.
constexpr std::size_t allowed_backlog_kib = 1024;

// AddressSanitizer keeps freed memory in quarantine on purpose, so a sanitized service grows
// by design; its leaks are LeakSanitizer's to find.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool memory_is_measurable = false;
#else
constexpr bool memory_is_measurable = true;
#endif

std::size_t rounds() {
  const char* text = std::getenv("BLE_LOAD_ROUNDS");
  return text != nullptr && std::atoi(text) > 0 ? static_cast<std::size_t>(std::atoi(text)) : 10;
}

void expect_clean(const LoadResult& result, const LoadPlan& plan) {
  const std::size_t total = plan.connections * plan.requests_per_connection;
  EXPECT_EQ(result.sent, total);
  EXPECT_EQ(result.answered, total);
  EXPECT_EQ(result.wrong, 0u);
  EXPECT_EQ(result.out_of_order, 0u);
  for (const auto& problem : result.first_problems) ADD_FAILURE() << problem;
}

TEST(Load, HundredThousandMixedRequestsBehindASlowSetAreAllAnsweredInOrderAndMemoryStaysFlat) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  integration::ServiceRig rig;
  auto& service = rig.start_serving();
  LoadPlan plan{.bus_address = rig.bus().address()};
  {
    BusClient client(rig.bus());
    auto document = harness::introspect();
    plan.introspection = describe(client.call(document));
  }
  ASSERT_TRUE(plan.introspection.starts_with("return s \"<!DOCTYPE")) << plan.introspection;
  if (running_under_emulation()) {
    // An emulated service's resident memory also holds the emulator's translations of its
    // code, made the first time each path runs; an unhurried round first puts them into the
    // baseline, so that what is measured against it is the service's own memory.
    BusClient client(rig.bus());
    auto set = harness::set_range(plan.held_level);
    ASSERT_EQ(describe(client.call(set)), "return");
    expect_clean(run_mixed_load(plan), plan);
  }
  const std::size_t baseline_kib = resident_kib(service.pid());
  std::printf("before the load: VmRSS %zu KiB\n", baseline_kib);

  // The Set everyone queues behind: the emulated controller answers it late, while the load is
  // sent. The bridge has sent it once it is in the call log.
  rig.bridge().set_control("delay_ms=3000\n");
  BusClient setter(rig.bus());
  auto slow = harness::set_range(25);
  const std::size_t calls = rig.bridge().calls().size();
  const std::uint32_t slow_serial = setter.send(slow);
  ASSERT_TRUE(service.wait_until([&] { return rig.bridge().calls().size() > calls; }, 10s));
  rig.bridge().set_control("");  // the load's own Sets go through at once

  std::size_t first_round_kib = 0;
  std::size_t requests = 0;
  const std::size_t round_count = rounds();
  for (std::size_t round = 0; round < round_count; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const LoadResult result = run_mixed_load(plan);
    expect_clean(result, plan);
    requests += result.answered;
    ASSERT_FALSE(service.has_exited()) << service.standard_error();
    if (round == 0) {
      dbus::Message reply = setter.next(10s);
      EXPECT_EQ(reply.reply_serial(), slow_serial);
      EXPECT_EQ(describe(reply), "return");
    }
    const std::size_t kib = resident_kib(service.pid());
    std::printf("load round %zu: %zu requests answered (%zu valid), VmRSS %zu KiB\n", round, result.answered,
                result.valid, kib);
    if (round == 0) first_round_kib = kib;
    if (!memory_is_measurable) continue;
    EXPECT_LE(kib, first_round_kib + allowed_growth_kib) << "resident memory grows with the requests served";
    EXPECT_LE(kib, baseline_kib + allowed_backlog_kib) << "resident memory does not return near its baseline";
  }
  EXPECT_EQ(rig.config(), harness::stored_file(25));
  EXPECT_EQ(service.standard_error(), "");
  RecordProperty("requests", static_cast<int>(requests));
}

}  // namespace
}  // namespace reliability
