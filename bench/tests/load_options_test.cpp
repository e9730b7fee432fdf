#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/load/options.hpp"

namespace bench {
namespace {

struct RefusedCase {
  std::vector<std::string> args;
  std::string error;
};
void PrintTo(const RefusedCase& test, std::ostream* out) { *out << test.error; }

class RefusedOptions : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedOptions, AreRefusedWithAMessageNamingTheProblem) {
  const auto parsed = parse_load_options(GetParam().args);
  ASSERT_FALSE(parsed.has_value());
  EXPECT_EQ(parsed.error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, RefusedOptions,
    testing::Values(RefusedCase{{}, "--kind is required"}, RefusedCase{{"--kind", "get"}, "--calls is required"},
                    RefusedCase{{"--calls", "5"}, "--kind is required"},
                    RefusedCase{{"--kind", "ping", "--calls", "5"}, "unknown call kind \"ping\""},
                    RefusedCase{{"--kind", "get", "--calls"}, "--calls needs a value"},
                    RefusedCase{{"--kind", "get", "--calls", "0"},
                                "--calls needs a whole number from 1 to 18446744073709551615, not \"0\""},
                    RefusedCase{{"--kind", "get", "--calls", "12k"},
                                "--calls needs a whole number from 1 to 18446744073709551615, not \"12k\""},
                    RefusedCase{{"--kind", "get", "--calls", "-1"},
                                "--calls needs a whole number from 1 to 18446744073709551615, not \"-1\""},
                    RefusedCase{{"--kind", "get", "--calls", "5", "--depth", "0"},
                                "--depth needs a whole number from 1 to 4096, not \"0\""},
                    RefusedCase{{"--kind", "get", "--calls", "5", "--connections", "257"},
                                "--connections needs a whole number from 1 to 256, not \"257\""},
                    RefusedCase{{"--kind", "get", "--calls", "5", "--range", "31"},
                                "--range needs a whole number from 0 to 30, not \"31\""},
                    RefusedCase{{"--kind", "set", "--calls", "5", "--levels", "20,,21"},
                                "--levels needs a whole number from 0 to 30, not \"\""},
                    RefusedCase{{"--kind", "set", "--calls", "5", "--levels", "20,-1"},
                                "--levels needs a whole number from 0 to 30, not \"-1\""},
                    RefusedCase{{"--kind", "get", "--calls", "5", "--server-pid", "0"},
                                "--server-pid needs a whole number from 1 to 2147483647, not \"0\""},
                    RefusedCase{{"--kind", "get", "--calls", "5", "--verbose", "1"}, "unknown option \"--verbose\""}));

TEST(LoadOptions, TakeEveryValueGiven) {
  const auto parsed =
      parse_load_options({"--kind", "set", "--calls", "300", "--warmup", "7", "--connections", "4", "--depth", "16",
                          "--range", "0", "--levels", "0,30,5", "--timeout-ms", "250", "--server-pid", "4242"});
  ASSERT_TRUE(parsed.has_value()) << parsed.error();
  EXPECT_EQ(parsed->kind, CallKind::set);
  EXPECT_EQ(parsed->calls, 300u);
  EXPECT_EQ(parsed->warmup, 7u);
  EXPECT_EQ(parsed->connections, 4u);
  EXPECT_EQ(parsed->depth, 16u);
  EXPECT_EQ(parsed->range, 0);
  EXPECT_EQ(parsed->set_levels, (std::vector<std::int32_t>{0, 30, 5}));
  EXPECT_EQ(parsed->timeout_ms, 250);
  EXPECT_EQ(parsed->server_pid, 4242);
}

TEST(LoadOptions, NameEveryCallKind) {
  const std::vector<std::pair<std::string, CallKind>> kinds{{"get", CallKind::get},
                                                            {"getall", CallKind::get_all},
                                                            {"introspect", CallKind::introspect},
                                                            {"set", CallKind::set},
                                                            {"getid", CallKind::get_id}};
  for (const auto& [word, kind] : kinds) {
    const auto parsed = parse_load_options({"--kind", word, "--calls", "1"});
    ASSERT_TRUE(parsed.has_value()) << word;
    EXPECT_EQ(parsed->kind, kind) << word;
  }
}

}  // namespace
}  // namespace bench
