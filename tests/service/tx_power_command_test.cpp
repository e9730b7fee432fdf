#include "src/tx_power_command.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace src {
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

TEST(PowerText, IsTheTwosComplementByteInLowercaseHexWithoutLeadingZeros) {
  const struct {
    std::int8_t power;
    const char* text;
  } rows[] = {
      {0, "0x0"},   {5, "0x5"},    {10, "0xa"},   {15, "0xf"},   {16, "0x10"},  {20, "0x14"},
      {-1, "0xff"}, {-10, "0xf6"}, {-20, "0xec"}, {-30, "0xe2"}, {127, "0x7f"}, {-128, "0x80"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(tx_power_command::power_text(row.power), row.text) << "power " << int{row.power};
}

TEST(LastLine, DropsOneFinalLineFeedAndTheCarriageReturnBeforeIt) {
  const struct {
    const char* output;
    std::optional<std::string> line;
  } rows[] = {
      // A carriage return without its line feed stays ("x\r").
      {"", std::nullopt},  {"0", "0"},     {"a\nb", "b"},     {"a\nb\n", "b"}, {"a\n\n", ""},        {"\n", ""},
      {"a\r\nb\r\n", "b"}, {"0\r\n", "0"}, {"a\r\n\r\n", ""}, {"x\r", "x\r"},  {"  \t \n", "  \t "},
  };
  for (const auto& row : rows) {
    const auto line = tx_power_command::last_line(row.output);
    EXPECT_EQ(line, row.line) << "output \"" << row.output << "\"";
  }
}

TEST(ControllerStatus, IsTheLastTokenOfTheLastLine) {
  const struct {
    const char* output;
    int status;
  } rows[] = {
      {"0", 0},
      {"00", 0},
      {"+0", 0},
      {"-0", 0},
      {"0\r\n", 0},
      {"< HCI Command: ogf 0x3f, ocf 0x0087, plen 1\n  05 \n> HCI Event: 0x0e plen 4\n  01 87 FC 0\n", 0},
      {"12", 12},
      {"-5", -5},
      {"-128", -128},
      {"127", 127},
      {"status 7 then 3", 3},
      {"12\n0", 0},  // earlier lines do not count
      {"0\n12", 12},
      {"\xC2\xA0"
       "4\xE2\x80\x83",
       4},  // no-break space and em space are white space too
      {"1\x0B"
       "2",
       2},  // as is the vertical tab
  };
  for (const auto& row : rows) {
    const auto status = tx_power_command::controller_status(row.output);
    ASSERT_TRUE(status.has_value()) << "output \"" << row.output << "\": " << status.error().message();
    EXPECT_EQ(int{*status}, row.status) << "output \"" << row.output << "\"";
  }
}

TEST(ControllerStatus, QuotesTheWholeOutputWhenTheLastTokenIsNoStatus) {
  const char* outputs[] = {
      "128", "-129", "0C", "+", "-", "1.0", "+-1", "0x0", "", "0\n\n", "1\n   \n", "\n", "status: 0 \xE2\x80\x8B",
  };
  for (const char* output : outputs) {
    const auto status = tx_power_command::controller_status(output);
    ASSERT_FALSE(status.has_value()) << "output \"" << output << "\"";
    EXPECT_EQ(status.error().message(), std::string("Failed to parse hcitool output: ") + output);
    EXPECT_TRUE(status.error().causes().empty());
  }
}

TEST(ControllerStatus, QuotesALongOutputByItsFirstWholeCharactersAndItsLength) {
  // "é" is two bytes; the one that would straddle the limit is left out whole.
  const std::string head(tx_power_command::longest_quoted_output - 1, 'x');
  const std::string output = head + "\xC3\xA9" + std::string(33554312 - head.size() - 2, 'y');
  const auto status = tx_power_command::controller_status(output);
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().message(), "Failed to parse hcitool output: " + head + "... (33554312 bytes in all)");
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
  EXPECT_TRUE(result.error().outcome_unknown()) << "a bridge out of reach may hold another level";
}

}  // namespace
}  // namespace src
