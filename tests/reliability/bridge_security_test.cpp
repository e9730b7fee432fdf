// The real hcitool-bridge, running a stand-in tool that records the argument vector it gets:
// hostile arguments over the bus (shell metacharacters, options, long and non-ASCII texts, wrong
// arity and types, other commands) are refused before any tool runs, and an accepted call runs
// the tool with exactly the transmit-power command in its one form.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/oracles/bridge_model.hpp"
#include "tests/harness/bridge.hpp"
#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/message_builder.hpp"
#include "tests/harness/private_bus.hpp"
#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using namespace harness::args;
using harness::Arg;
using harness::BusClient;
using harness::describe;
using harness::shortened;

using Args = std::vector<std::string>;

// The fake tool answers every command as a controller would accept it: a Command Complete with
// status 0 for the opcode it was given. The bridge's reply adds the status line.
const std::string accepted_reply =
    "return s \"< HCI Command: ogf 0x3f, ocf 0x0087, plen 1\n  05 \n> HCI Event: 0x0e plen 4\n  01 87 FC 00 \nStatus: "
    "0\n\"";
const std::string invalid = "error org.freedesktop.DBus.Error.InvalidArgs: ";
const std::string bad_controller = invalid + harness::bridge_refusal::controller;
const std::string bad_group = invalid + harness::bridge_refusal::group;
const std::string bad_command = invalid + harness::bridge_refusal::command;
const std::string bad_parameter = invalid + harness::bridge_refusal::power;

class BridgeSecurity : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT(harness::bridge_callers);
    records_ = directory_.path() / "runs";
    std::filesystem::create_directory(records_);
    tool_ = directory_.path() / "fake-hcitool";
    // Each run leaves one file: $0 and every argument, each ended by a NUL.
    harness::write_file(tool_, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > " + records_.string() +
                                   "/run.$$\n"
                                   "op=$(( (($4 & 63) << 10) | ($5 & 1023) ))\n"
                                   "printf '< HCI Command: ogf %s, ocf %s, plen 1\\n  05 \\n> HCI Event: 0x0e plen 4\\n"
                                   "  01 %02X %02X 00 \\n' \"$4\" \"$5\" $((op & 255)) $((op >> 8))\n");
    std::filesystem::permissions(tool_, std::filesystem::perms::owner_all);
    bridge_ = bus_.start(harness::bridge_program(), {.arguments = {"--hcitool", tool_.string()}});
    ASSERT_TRUE(bus_.wait_for_name(harness::bridge_bus_name, bridge_.get())) << bridge_->standard_error();
  }

  std::string execute(std::vector<Arg> args) {
    auto call = harness::build({.destination = "com.orbo.ZozovoZorOrevov",
                                .path = "/com/orbo/ZozovoZorOrevov",
                                .interface = "com.orbo.ZozovoZorOrevov",
                                .member = "ExecuteHcitool",
                                .args = std::move(args)});
    return describe(client_.call(call, nullptr, 20s));
  }
  std::string execute(const Args& args) {
    std::vector<Arg> texts;
    for (const auto& arg : args) texts.push_back(s(arg));
    return execute(std::move(texts));
  }

  // Every argument vector the tool was started with, and the records cleared.
  std::vector<Args> runs() {
    std::vector<Args> all;
    for (const auto& entry : std::filesystem::directory_iterator(records_)) {
      const std::string bytes = harness::read_file(entry.path()).value_or("");
      Args argv;
      std::size_t start = 0;
      for (std::size_t nul; (nul = bytes.find('\0', start)) != std::string::npos; start = nul + 1) {
        argv.push_back(bytes.substr(start, nul - start));
      }
      all.push_back(std::move(argv));
      std::filesystem::remove(entry.path());
    }
    return all;
  }

  // The tool gets the command in its one form: "hci12 0x3f 0x0087 0xec".
  Args exact_vector(const std::string& line) {
    Args argv{tool_.string(), "-i"};
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      argv.push_back(word);
      if (argv.size() == 3) argv.push_back("cmd");
    }
    return argv;
  }

  harness::PrivateBus bus_;
  harness::ScratchDirectory directory_;
  std::filesystem::path tool_, records_;
  std::unique_ptr<harness::Process> bridge_;
  BusClient client_{bus_};
};

TEST_F(BridgeSecurity, HostileArgumentsAreRefusedBeforeAnyToolRuns) {
  const std::string long_text(1 << 20, 'f');
  // One row per case reads better than one argument per line.
  // clang-format off
  const struct {
    Args args;
    std::string answer;
  } rows[] = {
      {{"hci0; touch /tmp/owned", "0x3f", "0x0087", "0x5"}, bad_controller},
      {{"-i", "0x3f", "0x0087", "0x5"}, bad_controller},
      {{"hci0", "--help", "0x0087", "0x5"}, bad_group},
      {{"hci0", "-i", "hci1", "0x5"}, bad_group},
      {{"hci0", "0x3f", "0x0087 cmd 0x3f", "0x5"}, bad_command},
      {{"hci0", "0x3f", "0x0087", "$(reboot)"}, bad_parameter},
      {{"hci0", "0x3f", "0x0087", "`id`"}, bad_parameter},
      {{"hci0", "0x3f", "0x0087", "0x5 && reboot"}, bad_parameter},
      {{"hci0", "0x3f", "0x0087", "0x5|sh"}, bad_parameter},
      {{"hci0", "0x3f", "0x0087", "0x5\n-i"}, bad_parameter},
      {{"hci0", "0x3f", "0x0087", "'0x5'"}, bad_parameter},
      {{"hci0", "0x3f", "0x0087", "0x" + long_text}, bad_parameter},
      {{"hci" + long_text, "0x3f", "0x0087", "0x5"}, bad_controller},
      {{"hci\xd9\xa0", "0x3f", "0x0087", "0x5"}, bad_controller},              // Arabic-Indic zero
      {{"hci0", "0x3f", "0x0087", "0x\xef\xbc\x95"}, bad_parameter},           // fullwidth five
      {{"hci0", "0x\xe2\x80\x8b" "3f", "0x0087", "0x5"}, bad_group},           // zero-width space
      {{"../../bin/hci0", "0x3f", "0x0087", "0x5"}, bad_controller},
      {{"hci0", "0x3f", "0x0087"}, invalid + "Missing argument 4 (command parameter): ExecuteHcitool takes four strings"},
      {{"hci0", "0x3f", "0x0087", "0x5", "-i"}, invalid + "ExecuteHcitool takes four strings, and more were given"},
      {{}, invalid + "Missing argument 1 (controller): ExecuteHcitool takes four strings"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(shortened(row.args.empty() ? "" : row.args[0]) + " " +
                 shortened(row.args.size() > 3 ? row.args[3] : ""));
    EXPECT_EQ(shortened(execute(row.args)), shortened(row.answer));
    EXPECT_TRUE(runs().empty()) << "a refused call started the tool";
  }
  EXPECT_EQ(execute({s("hci0"), s("0x3f"), i(0x87), s("0x5")}),
            invalid + "Argument 3 (command) must be a string, found i32");
  EXPECT_EQ(execute({s("hci0"), s("0x3f"), s("0x0087"), v(s("0x5"))}),
            invalid + "Argument 4 (command parameter) must be a string, found Variant");
  EXPECT_TRUE(runs().empty());
  EXPECT_FALSE(bridge_->has_exited()) << bridge_->standard_error();
}

TEST_F(BridgeSecurity, AnAcceptedCallRunsTheToolWithExactlyTheValidatedVector) {
  const struct {
    Args args;
    Args vector;  // after the tool's own name
  } rows[] = {
      {{"hci0", "0x3f", "0x0087", "0x5"}, {"-i", "hci0", "cmd", "0x3f", "0x0087", "0x5"}},
      {{"hci12", "0x3F", "0x87", "0xEC"}, {"-i", "hci12", "cmd", "0x3f", "0x0087", "0xec"}},
      {{"hci999", "0x003f", "0x0087", "0x14"}, {"-i", "hci999", "cmd", "0x3f", "0x0087", "0x14"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    EXPECT_EQ(execute(row.args), accepted_reply);
    Args expected{tool_.string()};
    expected.insert(expected.end(), row.vector.begin(), row.vector.end());
    EXPECT_EQ(runs(), std::vector<Args>{expected});
  }
}

// Seeded random arguments from hostile pieces: each call is refused without a run, unless all
// four happen to have the strict forms and the transmit-power command's values, and then the
// tool gets exactly that command in its one form.
TEST_F(BridgeSecurity, RandomHostileArgumentsNeverReachTheToolUnlessStrictlyValid) {
  const std::vector<std::string> pieces = {
      "hci",
      "0",
      "7",
      "0x",
      "3f",
      "0087",
      "5",
      "ec",
      "-",
      "-i",
      "--",
      ";",
      "|",
      "&",
      "$(",
      ")",
      "`",
      "'",
      "\"",
      " ",
      "\t",
      "\n",
      "*",
      "?",
      "~",
      "..",
      "/",
      "\\",
      "%s",
      "\xc3\xa9",
      "\xef\xbc\x90",
      "\xe2\x80\x8b",
      "cmd",
      std::string(300, 'f'),
      "x",
      "X",
      "F",
  };
  std::mt19937 random(6);
  std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1), count(0, 4);
  const auto text = [&] {
    std::string made;
    for (std::size_t n = count(random); n > 0; --n) made += pieces[piece(random)];
    return made;
  };
  // Most arguments are built from digits only, and groups and commands mostly spell the one
  // value each, so that some calls come through whole.
  std::uniform_int_distribution<int> coin(0, 3), digits(1, 3);
  const auto number = [&](const char* prefix, const char* alphabet) {
    std::string made = prefix;
    for (int n = digits(random); n > 0; --n) made += alphabet[piece(random) % std::strlen(alphabet)];
    return made;
  };
  const auto spelling = [&](std::vector<std::string> ways) { return ways[piece(random) % ways.size()]; };
  const auto hex = "0123456789abcdefABCDEF";
  std::size_t accepted = 0;
  for (int i = 0; i < 400; ++i) {
    const Args args{coin(random) ? number("hci", "0123456789") : text(),
                    coin(random) ? spelling({"0x3f", "0x3F", "0x003f", "0x3e", "0x7f"}) : number("0x", hex),
                    coin(random) ? spelling({"0x0087", "0x87", "0x087", "0x0487", "0x88"}) : text(),
                    coin(random) ? number("0x", hex) : text()};
    const auto line = oracle::transmit_power_line(args);
    const std::string answer = execute(args);
    const auto started = runs();
    if (line) {
      ++accepted;
      EXPECT_EQ(answer, accepted_reply);
      EXPECT_EQ(started, std::vector<Args>{exact_vector(*line)});
    } else {
      EXPECT_TRUE(answer.starts_with(invalid)) << shortened(answer);
      EXPECT_TRUE(started.empty()) << "started for "
                                   << shortened(args[0] + "|" + args[1] + "|" + args[2] + "|" + args[3]);
    }
  }
  RecordProperty("accepted", static_cast<int>(accepted));
  std::printf("random bridge arguments: 400 calls, %zu strictly valid\n", accepted);
  EXPECT_FALSE(bridge_->has_exited()) << bridge_->standard_error();
}

}  // namespace
}  // namespace reliability
