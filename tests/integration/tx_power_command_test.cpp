// The transmit-power command against the simulated bridge on a private bus, in this process:
// the window edges that start-up never reaches, and the connection it must not leave behind.
#include "src/tx_power_command.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "tests/harness/bridge.hpp"
#include "tests/harness/bus_client.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/private_bus.hpp"

namespace src {
namespace {

// The connections on the bus: the unique names among the daemon's ListNames.
std::set<std::string> unique_names(harness::BusClient& client) {
  std::set<std::string> names;
  for (std::string& name : client.names()) {
    if (name.starts_with(':')) names.insert(std::move(name));
  }
  return names;
}

TEST(TxPowerCommandOnTheBus, SendsThePowerTextAndClosesItsConnectionAfterEveryRun) {
  REQUIRE_ROOT(harness::bridge_callers);
  // TxPowerCommand opens the system bus itself.
  harness::PrivateBus bus({.this_process_too = true});
  harness::SimulatedBridge bridge(bus);
  harness::BusClient watcher(bus);
  const struct {
    std::int8_t level;
    const char* control;
    const char* command;
    const char* failure;
  } rows[] = {
      {40, "", "hci0 0x3f 0x0087 0x14", nullptr},
      {-10, "", "hci0 0x3f 0x0087 0xe2", nullptr},
      {20, "reply=text\ntext=  00\\r\\n", "hci0 0x3f 0x0087 0x0", nullptr},
      {25, "reply=text\ntext=ok\\n0\\n\\n", "hci0 0x3f 0x0087 0x5", "Failed to parse hcitool output: ok\n0\n\n"},
      {0, "status=-128", "hci0 0x3f 0x0087 0xec", "Set BLE Power failed: -128"},
  };
  const auto before = unique_names(watcher);
  for (const auto& row : rows) {
    SCOPED_TRACE(int{row.level});
    bridge.set_control(row.control);
    testing::internal::CaptureStdout();
    const auto result = tx_power_command::run(row.level);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.failure == nullptr ? harness::level_applied(row.level) : "");
    EXPECT_EQ(result.has_value(), row.failure == nullptr);
    if (!result) {
      EXPECT_EQ(result.error().message(), row.failure);
      EXPECT_FALSE(result.error().outcome_unknown()) << "the bridge answered";
    }
    EXPECT_EQ(bridge.calls().back(), row.command);
    // Closing is ours; the daemon notices it a moment later.
    EXPECT_TRUE(bridge.process().wait_until([&] { return unique_names(watcher) == before; }));
  }
}

// Whoever holds the bridge's name may answer with an error as large as the bus lets through; the
// service quotes it as it quotes output, or its own error reply would pass the bus's limit.
TEST(TxPowerCommandOnTheBus, QuotesAHugeErrorFromTheBridgesNameByItsHeadAndLength) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::PrivateBus bus({.this_process_too = true});
  harness::BusClient impostor(bus);
  ASSERT_EQ(impostor.request_name(std::string(harness::bridge_bus_name), dbus::name_flag::do_not_queue),
            dbus::name_reply::primary_owner);
  const std::string message((32 << 20) - 4096, 'x');
  std::atomic<bool> answered = false;
  std::thread answering([&] {
    // The daemon's NameAcquired comes first; the error goes out while the connection is pumped.
    while (!answered) {
      const dbus::Message call = impostor.next(std::chrono::milliseconds(50));
      if (!call || call.type() != dbus::MessageType::method_call) continue;
      dbus::Message error = dbus::Message::error_reply(call, dbus::standard_error::failed(), message);
      impostor.send(error);
    }
  });
  const auto result = tx_power_command::run(25);
  answered = true;
  answering.join();
  ASSERT_FALSE(result.has_value());
  const std::string quoted = std::string(tx_power_command::longest_quoted_output, 'x') + "... (33550336 bytes in all)";
  EXPECT_TRUE(result.error().message() == quoted) << result.error().message().substr(0, 200);
}

}  // namespace
}  // namespace src
