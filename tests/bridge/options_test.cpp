// The command line of hcitool-bridge.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "bridge/bus/options.hpp"

namespace bridge {
namespace {

std::expected<BridgeOptions, std::string> parse(std::vector<std::string_view> args) { return parse_options(args); }

TEST(BridgeOptions, RefusesMalformedCommandLinesWithAClearMessage) {
  const struct {
    std::vector<std::string_view> args;
    std::string message;
  } cases[] = {
      {{"--frobnicate"}, "unknown option \"--frobnicate\""},
      {{"simulate"}, "unexpected argument \"simulate\""},
      {{"--log"}, "option --log needs a value"},
      {{"--hcitool="}, "option --hcitool needs a non-empty value"},
      {{"--simulate=yes"}, "option --simulate takes no value"},
      {{"--version=1"}, "option --version takes no value"},
      {{"--control", "/tmp/c"}, "--control needs --simulate"},
      {{"--allow-user", "no-such-user-here"}, "Unknown user \"no-such-user-here\""},
      {{"--allow-user", "4294967295"}, "Invalid uid \"4294967295\""},
      {{"--allow-user", "99999999999"}, "Invalid uid \"99999999999\""},
  };
  for (const auto& c : cases) {
    const auto result = parse(c.args);
    ASSERT_FALSE(result.has_value()) << c.message;
    EXPECT_EQ(result.error(), c.message);
  }
}

TEST(BridgeOptions, ReadsEveryOptionInBothSpellings) {
  const auto result = parse({"--simulate", "--control=/run/c", "--log", "/run/l", "--hcitool=/opt/hcitool",
                             "--allow-user", "nobody", "--allow-user=1234", "--version"});
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_TRUE(result->simulate);
  EXPECT_TRUE(result->version);
  EXPECT_FALSE(result->help);
  EXPECT_EQ(result->control, "/run/c");
  EXPECT_EQ(result->log, "/run/l");
  EXPECT_EQ(result->hcitool, "/opt/hcitool");
  EXPECT_EQ(result->allowed_users, (std::vector<uid_t>{65534, 1234}));
}

// Root is served always, but its levels are the service's only when it is named.
TEST(BridgeOptions, ServesRootAlwaysAndRemembersOnlyTheLevelsOfNamedUsers) {
  const struct {
    std::vector<std::string_view> args;
    uid_t uid;
    bool served, remembered;
  } cases[] = {
      {{"--allow-user", "1234"}, 0, true, false},
      {{"--allow-user", "1234"}, 1234, true, true},
      {{"--allow-user", "1234"}, 65534, false, false},
      {{"--allow-user", "root"}, 0, true, true},
      {{}, 1234, false, false},
  };
  for (const auto& c : cases) {
    const auto options = parse(c.args);
    ASSERT_TRUE(options.has_value()) << options.error();
    EXPECT_EQ(is_allowed(*options, c.uid), c.served) << c.uid;
    EXPECT_EQ(is_remembered(*options, c.uid), c.remembered) << c.uid;
  }
  EXPECT_EQ(parse({})->hcitool, std::nullopt);  // our own socket, no tool
}

}  // namespace
}  // namespace bridge
