// hcitool-bridge on a private bus, called by real clients.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/harness/bridge.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/private_bus.hpp"
#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace {

using harness::ExitStatus;
using harness::Finished;
using namespace std::chrono_literals;

const std::string level_25_output =
    "< HCI Command: ogf 0x3f, ocf 0x0087, plen 1\n  05 \n> HCI Event: 0x0e plen 4\n  01 87 FC 00 \nStatus: 0\n";

const std::vector<std::string> level_25{"string:hci0", "string:0x3f", "string:0x0087", "string:0x5"};
const std::vector<std::string> as_nobody{"--reuid=nobody", "--regid=nogroup", "--clear-groups"};

class BridgeOnBus : public ::testing::Test {
 protected:
  // dbus-send with typed arguments such as "string:hci0"; as another account when one is given.
  // Its literal form prints a string reply as three blanks and the bytes, nothing after them.
  Finished execute(std::vector<std::string> arguments, std::vector<std::string> account = {},
                   std::string timeout = "--reply-timeout=5000") const {
    arguments.insert(arguments.begin(),
                     {"--system", "--print-reply=literal", timeout, "--dest=com.orbo.ZozovoZorOrevov",
                      "/com/orbo/ZozovoZorOrevov", "com.orbo.ZozovoZorOrevov.ExecuteHcitool"});
    return bus.run("/usr/bin/dbus-send", {.arguments = std::move(arguments), .account = std::move(account)});
  }

  harness::PrivateBus bus;
};

TEST_F(BridgeOnBus, AnswersWithTheSimulatedOutputAndLogsTheCommand) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::SimulatedBridge bridge(bus);
  const Finished reply = execute(level_25);
  EXPECT_EQ(reply.status, ExitStatus::exited(0)) << reply.standard_error;
  EXPECT_EQ(reply.standard_output, "   " + level_25_output);
  EXPECT_EQ(bridge.calls(), std::vector<std::string>{"hci0 0x3f 0x0087 0x5"});
}

// Everything but the transmit-power command, in the forms the strict texts allow.
TEST_F(BridgeOnBus, RefusesEveryOtherCommandWithInvalidArgsAndSendsNothing) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::SimulatedBridge bridge(bus);
  using namespace harness::bridge_refusal;
  const struct {
    std::vector<std::string> arguments;
    std::string error;
  } cases[] = {
      {{"string:hci0", "string:0x3", "string:0x3", "string:0x0"}, group},        // Reset
      {{"string:hci0", "string:0x43", "string:0x0403", "string:0x0"}, group},    // Reset, in wide values
      {{"string:hci0", "string:0x3", "string:0x1a", "string:0x3"}, group},       // Write Scan Enable
      {{"string:hci0", "string:0x8", "string:0xa", "string:0x1"}, group},        // LE advertising on
      {{"string:hci0", "string:0x7f", "string:0x0087", "string:0x5"}, group},    // 0xfc87 once masked
      {{"string:hci0", "string:0x3f", "string:0x0487", "string:0x5"}, command},  // 0xfc87 once masked
      {{"string:hci0", "string:0x3f", "string:0x0088", "string:0x5"}, command},
      {{"string:hci0", "string:0x3f", "string:0x0087", "string:0x7f"}, power},  // +127 dBm
      {{"string:hci0", "string:0x3f", "string:0x0087", "string:0x15"}, power},  // +21 dBm
      {{"string:hci0", "string:0x3f", "string:0x0087", "string:0xe1"}, power},  // -31 dBm
      {{"string:hci00", "string:0x3f", "string:0x0087", "string:0x5"}, controller},
      {{"string:hci012", "string:0x3f", "string:0x0087", "string:0x5"}, controller},
      {{"string:hci0", "string:0x3f", "string:0x0087"},
       "Missing argument 4 (command parameter): ExecuteHcitool takes four strings"},
      {{"string:hci0", "int32:63", "string:0x0087", "string:0x5"},
       "Argument 2 (command group) must be a string, found i32"},
      {{"string:hci0", "string:0x3f", "string:0x0087", "string:0x5", "string:0x6"},
       "ExecuteHcitool takes four strings, and more were given"},
  };
  for (const auto& c : cases) {
    const Finished reply = execute(c.arguments);
    EXPECT_EQ(reply.status, ExitStatus::exited(1)) << c.error;
    EXPECT_EQ(reply.standard_error, "Error org.freedesktop.DBus.Error.InvalidArgs: " + c.error + "\n");
  }
  EXPECT_TRUE(bridge.calls().empty());
}

TEST_F(BridgeOnBus, DeniesUsersThatAreNotAllowedAndServesThoseThatAre) {
  REQUIRE_ROOT(harness::bridge_callers);
  {
    harness::SimulatedBridge bridge(bus);
    const Finished denied = execute(level_25, as_nobody);
    EXPECT_EQ(denied.status, ExitStatus::exited(1));
    EXPECT_EQ(denied.standard_error,
              "Error org.freedesktop.DBus.Error.AccessDenied: User 65534 may not run hcitool commands\n");
    EXPECT_TRUE(bridge.calls().empty());
  }
  harness::SimulatedBridge bridge(bus, {"--allow-user", "nobody"});
  const Finished allowed = execute(level_25, as_nobody);
  EXPECT_EQ(allowed.status, ExitStatus::exited(0)) << allowed.standard_error;
  EXPECT_EQ(allowed.standard_output, "   " + level_25_output);
}

TEST_F(BridgeOnBus, RepliesAsTheControlFileSaysReadingItAgainForEveryCall) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::SimulatedBridge bridge(bus);
  const struct {
    std::string control;
    int exit_code;
    std::string output, error;
  } cases[] = {
      {"status=12\n", 0,
       "   < HCI Command: ogf 0x3f, ocf 0x0087, plen 1\n  05 \n> HCI Event: 0x0e plen 4\n  01 87 FC 0C \nStatus: 12\n",
       ""},
      {"reply=error\n", 1, "", "Error org.freedesktop.DBus.Error.Failed: simulated failure\n"},
      {"reply=error\nerror_name=com.orbo.Error.Busy\nerror_message=controller busy\n", 1, "",
       "Error com.orbo.Error.Busy: controller busy\n"},
      {"reply=empty\n", 0, "", ""},
      {"reply=uint32\n", 0, "   uint32 7\n", ""},
      {"reply=text\ntext=first\\nlast 0\n", 0, "   first\nlast 0", ""},
      {"reply=sometimes\n", 1, "",
       "Error org.freedesktop.DBus.Error.Failed: Control file line 1: reply must be one of output, error, empty, "
       "uint32, text\n"},
      {"\xFF=1\n", 1, "",
       "Error org.freedesktop.DBus.Error.Failed: Control file line 1: unknown key \"\xEF\xBF\xBD\"\n"},
      {"status=0\n", 0, "   " + level_25_output, ""},
  };
  for (const auto& c : cases) {
    bridge.set_control(c.control);
    const Finished reply = execute(level_25);
    EXPECT_EQ(reply.status, ExitStatus::exited(c.exit_code)) << c.control;
    EXPECT_EQ(reply.standard_output, c.output) << c.control;
    EXPECT_EQ(reply.standard_error, c.error) << c.control;
  }
}

TEST_F(BridgeOnBus, KeepsServingAfterACallerGaveUpWaiting) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::SimulatedBridge bridge(bus);
  bridge.set_control("delay_ms=1000\n");
  const Finished impatient = execute(level_25, {}, "--reply-timeout=100");
  EXPECT_EQ(impatient.status, ExitStatus::exited(1));
  EXPECT_TRUE(impatient.standard_error.starts_with("Error org.freedesktop.DBus.Error.NoReply"))
      << impatient.standard_error;

  bridge.set_control("");
  const Finished next = execute(level_25);
  EXPECT_EQ(next.status, ExitStatus::exited(0)) << next.standard_error;
  EXPECT_EQ(bridge.calls().size(), 2u);
}

TEST_F(BridgeOnBus, RunsTheToolAgainUntilItPrintsTheAnswerToTheCommand) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::ScratchDirectory directory;
  const auto tool = directory.path() / "hcitool";
  // The first run reads a Number Of Completed Packets event, the second the command's answer.
  harness::write_file(tool,
                      "#!/bin/sh\nprintf '<%s>' \"$@\"; echo\n"
                      "if [ -e \"$0.ran\" ]; then printf '> HCI Event: 0x0e plen 4\\n  01 87 FC 00 \\n'\n"
                      "else : > \"$0.ran\"; printf '> HCI Event: 0x13 plen 5\\n  01 01 00 01 00 \\n'; fi\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  auto bridge = bus.start(harness::bridge_program(), {.arguments = {"--hcitool", tool.string()}});
  ASSERT_TRUE(bus.wait_for_name(harness::bridge_bus_name, bridge.get())) << bridge->standard_error();

  const Finished reply = execute(level_25);
  EXPECT_EQ(reply.status, ExitStatus::exited(0)) << reply.standard_error;
  EXPECT_EQ(reply.standard_output,
            "   <-i><hci0><cmd><0x3f><0x0087><0x5>\n> HCI Event: 0x0e plen 4\n  01 87 FC 00 \nStatus: 0\n");
}

// A descendant in a session of its own survives the kill of the tool's process group; the
// bridge takes it over, ends it and reaps it.
TEST_F(BridgeOnBus, EndsAndReapsWhateverTheToolLeavesRunning) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::ScratchDirectory directory;
  const auto tool = directory.path() / "hcitool";
  const auto pid_file = directory.path() / "left.pid";
  harness::write_file(tool, "#!/bin/sh\nsetsid sh -c 'echo $$ > \"$0\"; exec sleep 30' '" + pid_file.string() +
                                "' &\nwhile [ ! -s '" + pid_file.string() +
                                "' ]; do sleep 0.01; done\nprintf '> HCI Event: 0x0e plen 4\\n  01 87 FC 00 \\n'\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  auto bridge = bus.start(harness::bridge_program(), {.arguments = {"--hcitool", tool.string()}});
  ASSERT_TRUE(bus.wait_for_name(harness::bridge_bus_name, bridge.get())) << bridge->standard_error();

  const Finished reply = execute(level_25);
  EXPECT_EQ(reply.status, ExitStatus::exited(0)) << reply.standard_error;
  std::string pid = harness::read_file(pid_file).value_or("");
  pid = pid.substr(0, pid.find('\n'));
  ASSERT_FALSE(pid.empty());
  // Gone from /proc: ended and reaped, not left a zombie.
  const std::filesystem::path left = "/proc/" + pid;
  EXPECT_TRUE(bridge->wait_until([&] { return !std::filesystem::exists(left); }, 10s)) << left;
}

// Outside a service manager nothing ends the tool's group when the bridge dies: the tool must
// die with it.
TEST_F(BridgeOnBus, AToolStillRunningDiesWithTheBridge) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::ScratchDirectory directory;
  const auto tool = directory.path() / "hcitool";
  const auto pid_file = directory.path() / "tool.pid";
  harness::write_file(tool, "#!/bin/sh\necho $$ > '" + pid_file.string() + "'\nexec sleep 30\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  auto bridge = bus.start(harness::bridge_program(), {.arguments = {"--hcitool", tool.string()}});
  ASSERT_TRUE(bus.wait_for_name(harness::bridge_bus_name, bridge.get())) << bridge->standard_error();
  std::vector<std::string> call{"--system", "--print-reply", "--dest=com.orbo.ZozovoZorOrevov",
                                "/com/orbo/ZozovoZorOrevov", "com.orbo.ZozovoZorOrevov.ExecuteHcitool"};
  call.insert(call.end(), level_25.begin(), level_25.end());
  auto caller = bus.start("/usr/bin/dbus-send", {.arguments = call});
  ASSERT_TRUE(bridge->wait_until([&] { return harness::read_file(pid_file).value_or("").ends_with('\n'); }));
  std::string pid = *harness::read_file(pid_file);
  pid.pop_back();
  bridge->send_signal(SIGKILL);
  // Gone, or a zombie of whoever adopted it: killed either way.
  const auto stat = [&] { return harness::read_file("/proc/" + pid + "/stat").value_or(") Z"); };
  EXPECT_TRUE(caller->wait_until([&] { return stat().find(") Z") != std::string::npos; })) << stat();
}

TEST_F(BridgeOnBus, NamesTheStepThatFailedWhenItCannotReachTheController) {
  REQUIRE_ROOT(harness::bridge_callers);
  if (const int probe = ::socket(AF_BLUETOOTH, SOCK_RAW, 1); probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this kernel has Bluetooth; the VM tier covers the socket path";
  }
  auto bridge = bus.start(harness::bridge_program());
  ASSERT_TRUE(bus.wait_for_name(harness::bridge_bus_name, bridge.get())) << bridge->standard_error();
  const Finished reply = execute(level_25);
  EXPECT_EQ(reply.status, ExitStatus::exited(1));
  EXPECT_EQ(reply.standard_error,
            "Error org.freedesktop.DBus.Error.Failed: hci0: socket: Address family not supported by protocol\n");
}

TEST_F(BridgeOnBus, SendsTheLastAcceptedCommandAgainAtEveryPowerOnUntilTheControllerTakesIt) {
  REQUIRE_ROOT(harness::bridge_callers);
  harness::ScratchDirectory directory;
  const auto control = directory.path() / "control";
  auto bridge = bus.start(harness::bridge_program(),
                          {.arguments = {"--simulate", "--control", control.string(), "--allow-user", "root"}});
  ASSERT_TRUE(bus.wait_for_name(harness::bridge_bus_name, bridge.get())) << bridge->standard_error();
  const auto power_on = [&](std::string_view line) {
    bridge->send_signal(SIGUSR1);
    EXPECT_TRUE(bridge->wait_for_output(harness::Process::Stream::error, line)) << bridge->standard_error();
  };
  const std::string restored = "hci0 powered on: restored hci0 0x3f 0x0087 0x5\n";

  // A refused level leaves nothing to restore: the first power-on does nothing.
  harness::write_file(control, "status=12\n");
  EXPECT_EQ(execute(level_25).status, ExitStatus::exited(0));
  bridge->send_signal(SIGUSR1);
  harness::write_file(control, "");
  EXPECT_EQ(execute(level_25).status, ExitStatus::exited(0));
  power_on(restored);
  // A controller that refuses the restore is reported once, and asked again until it takes it.
  harness::write_file(control, "status=12\n");
  const std::string refused =
      "hci0 powered on: the controller refused hci0 0x3f 0x0087 0x5 with status 12; trying again\n";
  power_on(refused);
  harness::write_file(control, "");
  EXPECT_TRUE(bridge->wait_for_output(harness::Process::Stream::error, " failed tr")) << bridge->standard_error();
  bridge->stop();
  // How many tries failed depends on how soon the control file changed.
  const std::string log = bridge->standard_error();
  const std::string recovered = "hci0: restored hci0 0x3f 0x0087 0x5 after ";
  EXPECT_TRUE(log.starts_with(restored + refused + recovered) &&
              (log.ends_with(" failed tries\n") || log.ends_with(" 1 failed try\n")) &&
              log.find('\n', restored.size() + refused.size()) == log.size() - 1)
      << log;
}

TEST_F(BridgeOnBus, RefusesToStartWhenItCannotBeTheOnlyOwnerOfItsName) {
  harness::SimulatedBridge first(bus);
  const Finished second = bus.run(harness::bridge_program(), {.arguments = {"--simulate"}});
  EXPECT_EQ(second.status, ExitStatus::exited(1));
  EXPECT_EQ(second.standard_error, "Error: Cannot own com.orbo.ZozovoZorOrevov: another process owns it\n");
}

TEST_F(BridgeOnBus, EndsWithAnErrorWhenTheBusGoesAway) {
  harness::SimulatedBridge bridge(bus);
  bus.kill();
  const auto status = bridge.process().wait_for_exit();
  EXPECT_EQ(status, ExitStatus::exited(1));
  EXPECT_TRUE(
      bridge.process().standard_error().ends_with("Error: Failed to read/write data, disconnected from D-Bus?\n"))
      << bridge.process().standard_error();
}

TEST(BridgeCommandLine, RefusesBadOptionsAndDocumentsTheGoodOnes) {
  const Finished help = harness::run_to_end(harness::bridge_program(), {.arguments = {"--help"}});
  EXPECT_EQ(help.status, ExitStatus::exited(0));
  EXPECT_TRUE(help.standard_output.starts_with("Usage: hcitool-bridge [OPTION]...\n"));
  for (const char* option : {"--hcitool", "--allow-user", "--simulate", "--control", "--log", "--version"})
    EXPECT_NE(help.standard_output.find(option), std::string::npos) << option;

  // The service's version, after the bridge's name.
  const Finished version = harness::run_to_end(harness::bridge_program(), {.arguments = {"--version"}});
  const Finished service = harness::run_to_end(harness::service_program(), {.arguments = {"--version"}});
  EXPECT_EQ(version.status, ExitStatus::exited(0));
  EXPECT_EQ(version.standard_output,
            "hcitool-bridge " + service.standard_output.substr(service.standard_output.find(' ') + 1));

  const Finished bad =
      harness::run_to_end(harness::bridge_program(), {.arguments = {"--allow-user", "no-such-user-x"}});
  EXPECT_EQ(bad.status, ExitStatus::exited(2));
  EXPECT_EQ(bad.standard_error, "Error: Unknown user \"no-such-user-x\" (see hcitool-bridge --help)\n");
}

}  // namespace
