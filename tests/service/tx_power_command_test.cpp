#include "src/tx_power_command.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace ranged {
namespace {

TEST(TxPowerCommand, TurnsLevelsInsideTheWindowIntoPowersTwentyBelow) {
  const struct {
    std::int8_t level;
    int power;
  } rows[] = {{0, -20}, {20, 0}, {25, 5}, {30, 10}, {40, 20}, {-10, -30}};
  for (const auto& row : rows) {
    const auto power = tx_power_command::power_for(row.level);
    ASSERT_TRUE(power.has_value()) << "level " << int{row.level};
    EXPECT_EQ(int{*power}, row.power);
  }
}

TEST(TxPowerCommand, RefusesLevelsOutsideTheWindowWithThePowerInTheMessage) {
  const struct {
    std::int8_t level;
    const char* message;
  } rows[] = {
      {41, "BLE Power 21 must be in the range of -30 to 20"},
      {-11, "BLE Power -31 must be in the range of -30 to 20"},
      {127, "BLE Power 107 must be in the range of -30 to 20"},
      {-128, "BLE Power -148 must be in the range of -30 to 20"},
  };
  for (const auto& row : rows) {
    const auto power = tx_power_command::power_for(row.level);
    ASSERT_FALSE(power.has_value()) << "level " << int{row.level};
    EXPECT_EQ(power.error().message(), row.message);
  }
}

TEST(TxPowerCommand, WritesItsLinesWithSignedDecimals) {
  EXPECT_EQ(tx_power_command::success_line(20, 0), "Set BLE range 20 (0 dBm) successfully.\n");
  EXPECT_EQ(tx_power_command::success_line(0, -20), "Set BLE range 0 (-20 dBm) successfully.\n");
  EXPECT_EQ(tx_power_command::refused(12).message(), "Set BLE Power failed: 12");
  EXPECT_EQ(tx_power_command::refused(-128).message(), "Set BLE Power failed: -128");
}

// With no system bus to be had, a level outside the window must fail on the window alone,
// while a level inside it gets as far as the connection.
class TxPowerCommandWithoutBus : public testing::Test {
 protected:
  static void SetUpTestSuite() { ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ble-ranged-test/bus", 1); }
};

TEST_F(TxPowerCommandWithoutBus, ChecksTheWindowBeforeItConnects) {
  testing::internal::CaptureStdout();
  const auto result = tx_power_command::run(41);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(), "BLE Power 21 must be in the range of -30 to 20");
}

TEST_F(TxPowerCommandWithoutBus, ReportsTheConnectionFailureAndPrintsNothing) {
  testing::internal::CaptureStdout();
  const auto result = tx_power_command::run(25);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_FALSE(result.has_value());
  EXPECT_NE(result.error().message().find("/nonexistent/ble-ranged-test/bus"), std::string::npos)
      << result.error().message();
  EXPECT_TRUE(result.error().causes().empty());
}

}  // namespace
}  // namespace ranged
