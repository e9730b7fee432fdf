// The real ble-ranged serving its object to real clients: command-line tools and a plain
// libdbus connection, with the simulated bridge behind it and the file in a sandbox.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/integration/service_document.hpp"
#include "tests/integration/service_rig.hpp"

namespace integration {
namespace {

using namespace std::chrono_literals;

using harness::BusClient;
using harness::describe;
using harness::ExitStatus;
using harness::get_all;
using harness::get_range;
using harness::Process;
using harness::set_range;

class ServiceOnTheBus : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT(harness::sandbox_mounts);
    rig_.emplace().start_serving();
  }

  harness::Finished busctl(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "--system");
    return rig_->client("/usr/bin/busctl", std::move(arguments));
  }

  std::optional<ServiceRig> rig_;
};

TEST_F(ServiceOnTheBus, AnswersGetAndGetAllWithTheStoredLevel) {
  auto get =
      busctl({"get-property", "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "com.orbo.Configuration.Legacy", "Range"});
  EXPECT_EQ(get.status, ExitStatus::exited(0)) << get.standard_error;
  EXPECT_EQ(get.standard_output, "i 7\n");

  auto all = rig_->client("/usr/bin/gdbus",
                          {"call", "--system", "--dest", "com.orbo.RIDEviva", "--object-path", "/com/orbo/RIDEviva",
                           "--method", "org.freedesktop.DBus.Properties.GetAll", "com.orbo.Configuration.Legacy"});
  EXPECT_EQ(all.status, ExitStatus::exited(0)) << all.standard_error;
  EXPECT_EQ(all.standard_output, harness::all_properties_as_gdbus_prints(7));
}

TEST_F(ServiceOnTheBus, AcceptsLevelsZeroToThirtyAndRewritesTheFile) {
  const struct {
    int level;
    const char* power;
  } rows[] = {{0, "0xec"}, {30, "0xa"}, {30, "0xa"}, {25, "0x5"}};  // the held level again runs every step
  std::vector<std::string> commands = rig_->bridge().calls();
  std::string lines = rig_->service().standard_output();
  for (const auto& [level, power] : rows) {
    SCOPED_TRACE(level);
    auto set = busctl({"set-property", "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "com.orbo.Configuration.Legacy",
                       "Range", "i", std::to_string(level)});
    EXPECT_EQ(set.status, ExitStatus::exited(0)) << set.standard_error;
    EXPECT_EQ(rig_->config(), harness::stored_file(level));

    commands.push_back(std::string("hci0 0x3f 0x0087 ") + power);
    EXPECT_EQ(rig_->bridge().calls(), commands);
    lines += harness::level_applied(level);
    EXPECT_TRUE(rig_->service().wait_for_output(Process::Stream::output, lines));
  }
  auto get =
      busctl({"get-property", "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "com.orbo.Configuration.Legacy", "Range"});
  EXPECT_EQ(get.standard_output, "i 25\n");
}

// dbus-send's typed values reach the service; each is refused with its error, named in the
// first words dbus-send prints (the texts are the unit tests' and the bad clients').
TEST_F(ServiceOnTheBus, RefusesBadValuesWithTheirErrorsAndLeavesEverythingAlone) {
  const struct {
    const char* value;
    const char* error;
  } rows[] = {
      {"variant:int32:31", "InvalidArgs"},
      {"variant:int32:-1", "InvalidArgs"},
      {"variant:int32:2147483647", "InvalidArgs"},
      {"variant:byte:5", "Failed"},
      {"variant:int16:5", "Failed"},
      {"variant:string:5", "Failed"},
      {"int32:5", "InvalidArgs"},
  };
  const auto calls_before = rig_->bridge().calls();
  BusClient watcher(rig_->bus());
  watcher.add_match("type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    auto set = rig_->client("/usr/bin/dbus-send", {"--system", "--print-reply", "--dest=com.orbo.RIDEviva",
                                                   "/com/orbo/RIDEviva", "org.freedesktop.DBus.Properties.Set",
                                                   "string:com.orbo.Configuration.Legacy", "string:Range", row.value});
    EXPECT_EQ(set.status, ExitStatus::exited(1));
    EXPECT_TRUE(set.standard_error.starts_with(std::string("Error org.freedesktop.DBus.Error.") + row.error + ": "))
        << set.standard_error;
    EXPECT_EQ(rig_->config(), harness::stored_file(7));
  }
  auto get = get_range();
  std::vector<dbus::Message> signals;
  EXPECT_EQ(describe(watcher.call(get, &signals)), "return v i 7");
  EXPECT_TRUE(signals.empty()) << describe(signals.front());
  EXPECT_EQ(rig_->bridge().calls(), calls_before);
}

TEST_F(ServiceOnTheBus, SendsTheChangeSignalBeforeTheReplyOnTheSameConnection) {
  BusClient client(rig_->bus());
  client.add_match("type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");
  for (const int level : {25, 25, 0}) {
    auto set = set_range(level);
    std::vector<dbus::Message> before;
    auto reply = client.call(set, &before);
    EXPECT_EQ(describe(reply), "return");
    EXPECT_EQ(describe(before), std::vector<std::string>{harness::range_changed(level)});
  }
}

TEST_F(ServiceOnTheBus, RadioFailureAnswersFailedAndKeepsThePreviousLevel) {
  const struct {
    const char* control;
    std::string error;
  } rows[] = {
      {"status=12\n", "error org.freedesktop.DBus.Error.Failed: Set BLE Power failed: 12"},
      {"reply=text\ntext=0C\n", "error org.freedesktop.DBus.Error.Failed: Failed to parse hcitool output: 0C"},
      {"reply=error\nerror_message=hcitool crashed\n", "error org.freedesktop.DBus.Error.Failed: hcitool crashed"},
  };
  BusClient client(rig_->bus());
  client.add_match("type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");
  const std::string lines = rig_->service().standard_output();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.control);
    rig_->bridge().set_control(row.control);
    auto set = set_range(25);
    std::vector<dbus::Message> before;
    EXPECT_EQ(describe(client.call(set, &before)), row.error);
    EXPECT_TRUE(before.empty()) << describe(before.front());
    auto get = get_range();
    EXPECT_EQ(describe(client.call(get, &before)), "return v i 7");
    EXPECT_TRUE(before.empty());
    EXPECT_EQ(rig_->config(), harness::stored_file(7));
  }
  EXPECT_EQ(rig_->service().standard_output(), lines) << "no success line for a refused level";
}

// The bridge cannot be counted on to hold the level after a call it did not answer (it may take
// the call later) or once another process owns its name (a restarted bridge knows no level):
// the held level goes again, and the bridge's last call is the held level.
TEST_F(ServiceOnTheBus, SendsItsLevelAgainWheneverTheBridgeMayNotHoldIt) {
  const std::string held = "hci0 0x3f 0x0087 0xf3";  // level 7
  BusClient client(rig_->bus());
  // A bridge stalled for a while before it reads the Set (its time counts from then), and a
  // slow controller: the service gives up at 5 s, the bridge goes on and takes 25.
  rig_->bridge().set_control("delay_ms=4000\n");
  rig_->bridge().process().send_signal(SIGSTOP);
  auto set = set_range(25);
  client.send(set);
  std::this_thread::sleep_for(1500ms);  // the stall, not a wait for anything
  rig_->bridge().process().send_signal(SIGCONT);
  const dbus::Message late = client.next(10s);
  rig_->bridge().set_control("");
  EXPECT_TRUE(describe(late).starts_with("error org.freedesktop.DBus.Error.Failed: Did not receive a reply"))
      << describe(late);
  auto get = get_range();
  EXPECT_EQ(describe(client.call(get)), "return v i 7");
  EXPECT_TRUE(rig_->service().wait_until([&] {
    const auto calls = rig_->bridge().calls();
    return calls.size() >= 2 && calls.end()[-2] == "hci0 0x3f 0x0087 0x5" && calls.back() == held;
  })) << testing::PrintToString(rig_->bridge().calls());

  auto& successor = rig_->restart_bridge();
  EXPECT_TRUE(successor.process().wait_until([&] { return successor.calls() == std::vector<std::string>{held}; }))
      << testing::PrintToString(successor.calls()) << rig_->service().standard_error();
  EXPECT_EQ(describe(client.call(get)), "return v i 7");
}

TEST_F(ServiceOnTheBus, AnswersEveryRequestQueuedBehindASlowRadioInOrder) {
  rig_->bridge().set_control("delay_ms=1500\n");
  BusClient client(rig_->bus());
  std::vector<dbus::Message> requests;
  requests.push_back(set_range(25));
  requests.push_back(get_range());
  requests.push_back(get_all());
  requests.push_back(set_range(31));
  requests.push_back(get_range());
  std::vector<std::uint32_t> serials;
  for (auto& request : requests) serials.push_back(client.send(request));

  std::vector<std::string> answers;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    dbus::Message reply = client.next(10s);
    ASSERT_TRUE(reply) << "answer " << i << " missing";
    EXPECT_EQ(reply.reply_serial(), serials[i]);
    answers.push_back(describe(reply));
  }
  EXPECT_EQ(answers, (std::vector<std::string>{
                         "return",
                         "return v i 25",
                         harness::all_properties(25),
                         "error org.freedesktop.DBus.Error.InvalidArgs: " + harness::level_refused(31),
                         "return v i 25",
                     }));
}

TEST_F(ServiceOnTheBus, GivesItsExactIntrospectionDocument) {
  const std::string_view document = service_document;
  // busctl prints the string C-escaped after its type.
  std::string escaped = "s \"";
  for (const char c : document) {
    if (c == '"' || c == '\\') escaped += '\\';
    if (c == '\n') {
      escaped += "\\n";
      continue;
    }
    escaped += c;
  }
  escaped += "\"\n";
  auto answer =
      busctl({"call", "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "org.freedesktop.DBus.Introspectable", "Introspect"});
  EXPECT_EQ(answer.status, ExitStatus::exited(0)) << answer.standard_error;
  EXPECT_EQ(answer.standard_output, escaped);
}

TEST_F(ServiceOnTheBus, EndsWithItsReportWhenTheBusGoesAway) {
  rig_->bus().kill();
  EXPECT_EQ(rig_->service().wait_for_exit(10s), ExitStatus::exited(1));
  EXPECT_EQ(rig_->service().standard_error(), "Error: Failed to read/write data, disconnected from D-Bus?\n");
}

TEST(ServiceOnTheBusReadOnly, StillAppliesAndAnnouncesALevelItCannotStore) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  ServiceRig rig({.read_only_config = true});
  auto& service = rig.start_serving();
  BusClient client(rig.bus());
  client.add_match("type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");
  auto set = set_range(25);
  std::vector<dbus::Message> before;
  EXPECT_EQ(describe(client.call(set, &before)), "return");
  EXPECT_EQ(describe(before), std::vector<std::string>{harness::range_changed(25)});
  auto get = get_range();
  EXPECT_EQ(describe(client.call(get)), "return v i 25");
  EXPECT_EQ(rig.config(), harness::stored_file(7));
  EXPECT_EQ(rig.bridge().calls().back(), "hci0 0x3f 0x0087 0x5");
  EXPECT_TRUE(service.wait_for_output(Process::Stream::error, "\n"));
  EXPECT_TRUE(service.standard_error().starts_with("Error: ")) << service.standard_error();
  EXPECT_NE(service.standard_error().find("Read-only file system"), std::string::npos) << service.standard_error();
  EXPECT_FALSE(service.has_exited());
}

TEST(ServiceOnTheBusQueued, ServesOnItsUniqueNameWhileAnotherOwnerHoldsTheName) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  ServiceRig rig;
  BusClient owner(rig.bus());
  ASSERT_EQ(owner.request_name("com.orbo.RIDEviva", 0), 1u);  // primary owner, no replacement allowed
  auto& service = rig.start();
  std::vector<std::string> owners;
  ASSERT_TRUE(service.wait_until([&] {
    owners = owner.queued_owners("com.orbo.RIDEviva");
    return owners.size() == 2;
  })) << service.standard_error();
  EXPECT_EQ(owners[0], owner.unique_name());

  BusClient client(rig.bus());
  auto get = get_range(owners[1]);
  EXPECT_EQ(describe(client.call(get)), "return v i 7");
  auto set = set_range(12, owners[1]);
  EXPECT_EQ(describe(client.call(set)), "return");
  EXPECT_EQ(rig.config(), harness::stored_file(12));
}

}  // namespace
}  // namespace integration
