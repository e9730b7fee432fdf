// Argument checks of ExecuteHcitool and the text the bus may carry.
#include <gtest/gtest.h>

#include <string>

#include "bridge/transmit_power.hpp"
#include "text/utf8.hpp"

namespace bridge {
namespace {

struct Rejected {
  std::string controller, group, command, parameter;
  std::string message;
};

const std::string bad_controller =
    "Invalid controller: expected \"hci\" followed by an index of 1 to 3 decimal digits without leading zeros";
const std::string bad_group = "Invalid command group: only 0x3f (vendor-specific) is allowed";
const std::string bad_command = "Invalid command: only 0x0087 (set transmit power) is allowed";
const std::string bad_parameter =
    "Invalid command parameter: expected a transmit power from -30 to 20 dBm (0xe2 to 0xff or 0x0 to 0x14)";

// Texts that are not of the strict forms; the values the forms may hold are refused on the bus,
// where the controller is seen to receive nothing.
TEST(CommandValidation, RejectsHostileOrMalformedArgumentsNamingTheFirstBadOne) {
  const Rejected cases[] = {
      {"", "0x3f", "0x0087", "0x5", bad_controller},
      {"-i", "0x3f", "0x0087", "0x5", bad_controller},
      {"--help", "0x3f", "0x0087", "0x5", bad_controller},
      {"hci", "0x3f", "0x0087", "0x5", bad_controller},
      {"hci0000", "0x3f", "0x0087", "0x5", bad_controller},
      {"hci0;reboot", "0x3f", "0x0087", "0x5", bad_controller},
      {"hci0 ", "0x3f", "0x0087", "0x5", bad_controller},
      {"HCI0", "0x3f", "0x0087", "0x5", bad_controller},
      {"hci\xD9\xA0", "0x3f", "0x0087", "0x5", bad_controller},  // Arabic-Indic digit zero
      {"../hci0", "0x3f", "0x0087", "0x5", bad_controller},
      {"hci0", "", "0x0087", "0x5", bad_group},
      {"hci0", "0X3f", "0x0087", "0x5", bad_group},
      {"hci0", "0x", "0x0087", "0x5", bad_group},
      {"hci0", "0x0003f", "0x0087", "0x5", bad_group},
      {"hci0", "63", "0x0087", "0x5", bad_group},
      {"hci0", "0x3f$(id)", "0x0087", "0x5", bad_group},
      {"hci0", "0x3f", "-i", "0x5", bad_command},
      {"hci0", "0x3f", "0x0087|sh", "0x5", bad_command},
      {"hci0", "0x3f", "0x0g87", "0x5", bad_command},
      {"hci0", "0x3f", "0x00087", "0x5", bad_command},
      {"hci0", "0x3f", "0x0087", "0x005", bad_parameter},
      {"hci0", "0x3f", "0x0087", "0x", bad_parameter},
      {"hci0", "0x3f", "0x0087", "0X5", bad_parameter},
      {"hci0", "0x3f", "0x0087", "5", bad_parameter},
      {"hci0", "0x3f", "0x0087", "0x5\n", bad_parameter},
      {"hci0", "0x3f", "0x0087", "0x5 0x6", bad_parameter},
      {"hci0", "0x3f", "0x0087", "`reboot`", bad_parameter},
      {"hci0", "0x3f", "0x0087", "0x\xEF\xBC\x95", bad_parameter},  // fullwidth five
      {"hci0", "0x3f", "0x0087", "0x" + std::string(100000, 'f'), bad_parameter},
      {"hci" + std::string(100000, '0'), "0x3f", "0x0087", "0x5", bad_controller},
  };
  for (const Rejected& c : cases) {
    const auto result = read_transmit_power(c.controller, c.group, c.command, c.parameter);
    ASSERT_FALSE(result.has_value()) << c.controller.substr(0, 20) << ' ' << c.parameter.substr(0, 20);
    EXPECT_EQ(result.error(), c.message) << c.controller.substr(0, 20) << ' ' << c.parameter.substr(0, 20);
  }
}

// Every spelling of the one command reads as its values, and is written back in one form.
TEST(CommandValidation, AcceptsTheStrictFormsOfTheTransmitPowerCommandAndWritesItInOneForm) {
  const struct {
    std::string controller, group, command, parameter;
    unsigned index;
    int power;
    std::string line;
  } cases[] = {
      {"hci0", "0x3f", "0x0087", "0x5", 0, 5, "hci0 0x3f 0x0087 0x5"},
      {"hci999", "0x3F", "0x87", "0x05", 999, 5, "hci999 0x3f 0x0087 0x5"},
      {"hci12", "0x003f", "0x0087", "0x14", 12, 20, "hci12 0x3f 0x0087 0x14"},
      {"hci1", "0x3f", "0x0087", "0xE2", 1, -30, "hci1 0x3f 0x0087 0xe2"},
      {"hci0", "0x3f", "0x0087", "0xff", 0, -1, "hci0 0x3f 0x0087 0xff"},
      {"hci0", "0x3f", "0x0087", "0x0", 0, 0, "hci0 0x3f 0x0087 0x0"},
  };
  for (const auto& c : cases) {
    const auto result = read_transmit_power(c.controller, c.group, c.command, c.parameter);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(result->index, c.index);
    EXPECT_EQ(result->power_dbm, c.power);
    EXPECT_EQ(command_line(*result), c.line);
  }
}

TEST(BusText, ReplacesEveryIllFormedSequenceAndEveryNul) {
  const std::string r = "\xEF\xBF\xBD";
  const struct {
    std::string in, out;
  } cases[] = {
      {"plain ASCII\n", "plain ASCII\n"},
      {"h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xC3", r},                          // cut short at the end
      {"\xC3(", r + "("},                   // lead without continuation
      {"\xC0\xAF", r + r},                  // overlong '/'
      {"\xE0\x80\xAF", r + r + r},          // overlong three-byte form
      {"\xED\xA0\x80", r + r + r},          // surrogate U+D800
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\x80\xBF", r + r},                  // stray continuations
      {std::string("x\0y", 3), "x" + r + "y"},
      {std::string("\xF0\x9F\x98\0", 4), r + r},  // a character cut short by a NUL
      {std::string("\0\0", 2), r + r},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(text::to_bus_text(c.in), c.out);
}

}  // namespace
}  // namespace bridge
