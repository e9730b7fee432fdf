#include <gtest/gtest.h>

#include "src/conf/stored_level.hpp"

namespace {

namespace config_file = src::config_file;

// What start-up makes of a file: the level as decimal text, or the failure message.
std::string outcome_of(const std::expected<std::int8_t, src::Error>& level) {
  return level ? "level " + std::to_string(*level) : "error " + level.error().message();
}

struct Case {
  std::string file;
  std::string outcome;
};

const Case cases[] = {
    {"[Bluetooth]\nRange = 30\n", "level 30"},
    {"[Bluetooth]\nRange = 0\n", "level 0"},
    {"[BLUETOOTH]\nRANGE = -0\n", "level 0"},
    {"[bluetooth]\nrange=+7\n", "level 7"},
    {"[Bluetooth]\nRange = 007 ; from the factory\n", "level 7"},
    {"[Other]\nx=1\n[Bluetooth]\nRange = 5\n[Later]\nRange = 99\n", "level 5"},
    {"", "error No section"},
    {"[Bluetooth]\n", "error No section"},
    {"[Other]\nrange = 5\n", "error No section"},
    {"range = 5\n", "error No section"},
    {"[Bluetooth]\nlevel = 5\n", "error No key"},
    {"[Bluetooth]\nRange\n", "error No value"},
    {"[Bluetooth]\nRange =\n", "error cannot parse integer from empty string"},
    {"[Bluetooth]\nRange = -\n", "error invalid digit found in string"},
    {"[Bluetooth]\nRange = 7a\n", "error invalid digit found in string"},
    {"[Bluetooth]\nRange = 1 5\n", "error invalid digit found in string"},
    {"[Bluetooth]\nRange = 128\n", "error number too large to fit in target type"},
    {"[Bluetooth]\nRange = -129\n", "error number too small to fit in target type"},
    {"[Bluetooth]\nRange = 31\n", "error Bluetooth LE range 31 is out of range"},
    {"[Bluetooth]\nRange = 127\n", "error Bluetooth LE range 127 is out of range"},
    {"[Bluetooth]\nRange = -1\n", "error Bluetooth LE range -1 is out of range"},
    {"[Bluetooth]\nRange = -128\n", "error Bluetooth LE range -128 is out of range"},
};

TEST(StoredLevel, FindsConvertsAndChecksTheRangeOfALoadedFile) {
  for (const auto& c : cases) {
    auto config = config_file::parse(c.file);
    ASSERT_TRUE(config.has_value()) << c.file;
    EXPECT_EQ(outcome_of(src::stored_level(*config)), c.outcome) << c.file;
  }
}

}  // namespace
