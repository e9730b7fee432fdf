// Start-up of the real ble-ranged up to the bus: the stored level reaches the radio before the
// service takes its name, every failure on that road but a switched-off radio ends it without the
// name ever owned, and a switched-off radio is waited for.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "contract/bridge_interface.hpp"
#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/harness/silent_bridge.hpp"
#include "tests/integration/service_rig.hpp"

namespace integration {
namespace {

using namespace std::chrono_literals;

using harness::BusClient;
using harness::describe;
using harness::ExitStatus;

TEST(StartUpOnTheBus, AppliesTheStoredLevelBeforeTakingTheName) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  const struct {
    const char* stored;
    const char* command;
    int level;
  } rows[] = {
      {"25", "hci0 0x3f 0x0087 0x5", 25},
      {"20", "hci0 0x3f 0x0087 0x0", 20},
      {"0", "hci0 0x3f 0x0087 0xec", 0},
      {"+030", "hci0 0x3f 0x0087 0xa", 30},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored);
    ServiceRig rig({.config = std::string("[Bluetooth]\nRange = ") + row.stored + "\n"});
    const std::string before = *rig.config();
    auto& service = rig.start_serving();

    EXPECT_EQ(rig.bridge().calls(), std::vector<std::string>{row.command});
    EXPECT_TRUE(service.wait_for_output(harness::Process::Stream::output, harness::level_applied(row.level)));
    EXPECT_EQ(service.standard_output(), harness::level_applied(row.level));
    EXPECT_EQ(rig.config(), before) << "start-up never writes the file";
    EXPECT_FALSE(service.has_exited());
  }
}

// Who owns the bridge's name: nobody, the simulated bridge, or a peer that never replies.
enum class Bridge { absent, simulated, silent };

struct StartUpFailure {
  const char* what;
  Bridge bridge;
  const char* control;
  std::string report;
  int status = 1;
};

const std::string no_reply_text =
    "Did not receive a reply. Possible causes include: the remote application did not send a reply, the message "
    "bus security policy blocked the reply, the reply timeout expired, or the network connection was broken.";

const StartUpFailure startup_failures[] = {
    {"the bridge absent", Bridge::absent, "",
     "Error: The name com.orbo.ZozovoZorOrevov was not provided by any .service files\n"},
    {"the controller refusing", Bridge::simulated, "status=12\n", "Error: Set BLE Power failed: 12\n"},
    {"a controller that does not know the command: not to be started again", Bridge::simulated, "status=1\n",
     "Error: Set BLE Power failed: 1\n\nCaused by:\n    hci0 does not know the transmit-power command (status 1: "
     "Unknown HCI Command), and no retry will change that: ble-ranged is not started again (exit status 3) until it "
     "is started anew\n",
     3},
    {"a negative status", Bridge::simulated, "status=-5\n", "Error: Set BLE Power failed: -5\n"},
    {"unparsable output", Bridge::simulated, "reply=text\ntext=HCI command failed\\nstatus: 0x0c\n",
     "Error: Failed to parse hcitool output: HCI command failed\nstatus: 0x0c\n"},
    {"empty output", Bridge::simulated, "reply=text\ntext=\n", "Error: Failed to parse hcitool output: \n"},
    {"a reply without arguments", Bridge::simulated, "reply=empty\n",
     "Error: D-Bus argument type mismatch at position 0: expected String, found nothing\n"},
    {"a uint32 reply", Bridge::simulated, "reply=uint32\n",
     "Error: D-Bus argument type mismatch at position 0: expected String, found u32\n"},
    {"an error reply", Bridge::simulated, "reply=error\nerror_name=com.orbo.Error.Denied\nerror_message=not for you\n",
     "Error: not for you\n"},
    {"no reply within five seconds", Bridge::silent, "", "Error: " + no_reply_text + "\n"},
};

TEST(StartUpOnTheBus, EndsEveryRadioFailureWithoutEverOwningTheName) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  for (const auto& c : startup_failures) {
    SCOPED_TRACE(c.what);
    ServiceRig rig({.with_bridge = c.bridge == Bridge::simulated});
    if (c.bridge == Bridge::simulated) rig.bridge().set_control(c.control);
    std::optional<harness::SilentBridge> silent;
    if (c.bridge == Bridge::silent) silent.emplace(rig.bus());
    const std::string before = *rig.config();
    BusClient watcher(rig.bus());
    watcher.add_match("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='com.orbo.RIDEviva'");

    auto& service = rig.start();
    EXPECT_EQ(service.wait_for_exit(20s), ExitStatus::exited(c.status));
    EXPECT_EQ(service.standard_error(), c.report);
    EXPECT_EQ(service.standard_output(), "");
    EXPECT_EQ(rig.config(), before);

    // Signals reach us in bus order, so once this reply is in, any ownership change is too.
    EXPECT_TRUE(watcher.queued_owners("com.orbo.RIDEviva").empty());
    for (dbus::Message seen = watcher.next(0ms); seen; seen = watcher.next(0ms)) {
      ADD_FAILURE() << "the name changed hands: " << describe(seen);
    }
  }
}

// A controller that is there but switched off is a state: the service says so once, tries again
// without its name, and serves once the controller takes the level. An answer the bridge doubts
// (it may have been an earlier command's) is tried again too, without a word.
TEST(StartUpOnTheBus, WaitsWithoutItsNameWhileTheRadioIsSwitchedOffOrDoubtedAndServesOnceItTakes) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  const struct {
    std::string error;
    std::string said;
  } rows[] = {
      {"hci0: write: Network is down",
       "The radio is switched off (hci0: write: Network is down): the stored level 7 is applied once it is switched "
       "on, and com.orbo.RIDEviva is on the bus from then on\n"},
      {"hci0: " + std::string(contract::doubted_answer) + ", so whether it took 0xf3 is not known", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error);
    ServiceRig rig;
    rig.bridge().set_control("reply=error\nerror_message=" + row.error + "\n");
    auto& service = rig.start();
    EXPECT_TRUE(service.wait_until([&] { return rig.bridge().calls().size() >= 2; })) << "it did not try again";
    EXPECT_TRUE(BusClient(rig.bus()).queued_owners("com.orbo.RIDEviva").empty());

    rig.bridge().set_control("status=0\n");
    EXPECT_TRUE(rig.bus().wait_for_name("com.orbo.RIDEviva", &service, 10s));
    EXPECT_TRUE(service.wait_for_output(harness::Process::Stream::output, row.said + harness::level_applied(7)));
    EXPECT_EQ(service.standard_error(), "");
  }
}

TEST(StartUpOnTheBus, AppliesTheLevelAndServesWithStandardOutputClosed) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  ServiceRig rig({.closed_descriptors = {1}});
  rig.start_serving();
  BusClient client(rig.bus());
  auto get = harness::get_range();
  EXPECT_EQ(describe(client.call(get)), "return v i 7");
  EXPECT_EQ(rig.bridge().calls(), std::vector<std::string>{"hci0 0x3f 0x0087 0xf3"});
  EXPECT_EQ(rig.service().standard_error(), "");
}

TEST(StartUpOnTheBus, EndsWithTheDaemonsWordsWhenItsPolicyRefusesTheName) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  harness::PrivateBusOptions refusing;
  refusing.extra_config = R"(<policy context="mandatory"><deny own="com.orbo.RIDEviva"/></policy>)";
  ServiceRig rig({.bus = refusing});
  auto& service = rig.start();
  EXPECT_EQ(service.wait_for_exit(10s), ExitStatus::exited(1));
  EXPECT_EQ(service.standard_output(), harness::level_applied(7));
  EXPECT_TRUE(service.standard_error().starts_with("Error: Connection \":1.")) << service.standard_error();
  EXPECT_TRUE(service.standard_error().ends_with(
      "\" is not allowed to own the service \"com.orbo.RIDEviva\" due to security policies in the configuration "
      "file\n"))
      << service.standard_error();
}

}  // namespace
}  // namespace integration
