// Faults around the running service, with the real programs: a private dbus-daemon, the bridge
// in simulation mode and ble-ranged in a private mount namespace. Whatever breaks, every Set is
// answered, the file holds a whole level, and the service goes on serving until its bus is gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/harness/bridge.hpp"
#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/harness/sandbox.hpp"
#include "tests/harness/silent_bridge.hpp"
#include "tests/integration/service_rig.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using harness::BusClient;
using harness::describe;
using harness::ExitStatus;
using integration::ServiceRig;

const std::string failed = "error org.freedesktop.DBus.Error.Failed: ";

std::string call(BusClient& client, dbus::Message request) { return describe(client.call(request, nullptr, 20s)); }

// Sends a Set and waits until the bridge has logged it, so the Set is known to wait on it.
std::uint32_t set_waiting_on_bridge(BusClient& client, ServiceRig& rig, std::int32_t level) {
  const std::size_t calls = rig.bridge().calls().size();
  auto set = harness::set_range(level);
  const std::uint32_t serial = client.send(set);
  EXPECT_TRUE(rig.service().wait_until([&] { return rig.bridge().calls().size() > calls; }, 10s))
      << "the bridge never got the command";
  return serial;
}

TEST(BusFault, TheDaemonDyingEndsTheServiceWithItsReportAndAWholeFile) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  for (const bool set_waiting : {false, true}) {
    SCOPED_TRACE(set_waiting ? "while a Set waits on the bridge" : "while idle");
    ServiceRig rig;
    auto& service = rig.start_serving();
    {
      BusClient client(rig.bus());
      EXPECT_EQ(call(client, harness::set_range(12)), "return");
      if (set_waiting) {
        rig.bridge().set_control("delay_ms=30000\n");
        set_waiting_on_bridge(client, rig, 25);
      }
      rig.bus().kill();
    }
    EXPECT_EQ(service.wait_for_exit(15s), ExitStatus::exited(1));
    EXPECT_EQ(service.standard_error(), "Error: Failed to read/write data, disconnected from D-Bus?\n");
    const auto file = rig.config();
    EXPECT_TRUE(file == harness::stored_file(12) || file == harness::stored_file(25)) << file.value_or("(no file)");
    EXPECT_EQ(rig.sandbox().listing(), "bluetooth.conf\n");
  }
}

struct BridgeFault {
  const char* name;
  const char* control;                      // before the Set
  std::function<void(ServiceRig&)> during;  // while the Set waits on the bridge
  std::string answer;
  bool bridge_survives;
  bool silent = false;  // a peer that owns the bridge's name and never replies takes its place
};

TEST(BridgeFault, EverySetIsAnsweredWithItsErrorAndTheServiceGoesOnServing) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  const BridgeFault rows[] = {
      {"absent", "", [](ServiceRig& rig) { rig.bridge().process().stop(); },
       failed + "The name com.orbo.ZozovoZorOrevov was not provided by any .service files", false},
      {"never answering (a stand-in: the bridge always answers in time)", "", nullptr,
       failed + "Did not receive a reply. Possible causes include: the remote application did not send a reply, "
                "the message bus security policy blocked the reply, the reply timeout expired, or the network "
                "connection was broken.",
       false, true},
      {"crashing mid-call", "delay_ms=30000\n",
       [](ServiceRig& rig) {
         rig.bridge().process().send_signal(SIGKILL);
         rig.bridge().process().wait_for_exit(5s);
       },
       failed + "Message recipient disconnected from message bus without replying", false},
      {"answering a number", "reply=uint32\n", nullptr,
       failed + "D-Bus argument type mismatch at position 0: expected String, found u32", true},
      {"answering nothing", "reply=empty\n", nullptr,
       failed + "D-Bus argument type mismatch at position 0: expected String, found nothing", true},
      {"answering garbage", "reply=text\ntext=\\t\xc3\xbf\xef\xbf\xbd 0x00 ]]>\\r\\n-\\n\n", nullptr,
       failed + "Failed to parse hcitool output: \t\xc3\xbf\xef\xbf\xbd 0x00 ]]>\r\n-\n", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ServiceRig rig;
    auto& service = rig.start_serving();
    ASSERT_TRUE(service.wait_for_output(harness::Process::Stream::output, harness::level_applied(7)));
    const std::string output = service.standard_output();
    rig.bridge().set_control(row.control);
    BusClient client(rig.bus());
    client.add_match("type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'");

    dbus::Message answer;
    std::vector<dbus::Message> before;
    std::optional<harness::SilentBridge> silent;
    if (row.silent) {
      rig.bridge().process().stop();
      silent.emplace(rig.bus());
    }
    if (row.silent || (row.during && std::string(row.name) == "absent")) {
      if (row.during) row.during(rig);
      auto set = harness::set_range(25);
      answer = client.call(set, &before, 20s);
    } else {
      const std::uint32_t serial = set_waiting_on_bridge(client, rig, 25);
      if (row.during) row.during(rig);
      answer = client.next(20s);
      while (answer && answer.reply_serial() != serial) {
        before.push_back(std::move(answer));
        answer = client.next(20s);
      }
    }
    EXPECT_EQ(describe(answer), row.answer);
    EXPECT_TRUE(before.empty()) << "no change signal for a level the radio did not take";

    EXPECT_EQ(call(client, harness::get_range()), "return v i 7");
    EXPECT_EQ(rig.config(), harness::stored_file(7));
    EXPECT_EQ(service.standard_output(), output) << "no success line";
    EXPECT_FALSE(service.has_exited()) << service.standard_error();

    // Once a bridge answers again, so does the radio.
    std::optional<harness::SimulatedBridge> replacement;
    if (row.bridge_survives) {
      rig.bridge().set_control("");
    } else {
      silent.reset();
      replacement.emplace(rig.bus());
    }
    EXPECT_EQ(call(client, harness::set_range(12)), "return");
    EXPECT_EQ(call(client, harness::get_range()), "return v i 12");
    EXPECT_EQ(rig.config(), harness::stored_file(12));
  }
}

// A tmpfs with room for the stored file and nothing else, put over /etc/wireless.
class FullConfigDirectory {
 public:
  explicit FullConfigDirectory(const std::string& contents) : storage_(64 * 1024) {
    harness::write_file(storage_.path() / "bluetooth.conf", contents);
    std::FILE* filler = std::fopen((storage_.path() / "filler").c_str(), "w");
    if (filler == nullptr) throw std::runtime_error("cannot create the filler");
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
    if (::mount(storage_.path().c_str(), "/etc/wireless", nullptr, MS_BIND, nullptr) != 0) {
      throw std::runtime_error("cannot bind the full file system over /etc/wireless");
    }
  }
  FullConfigDirectory(const FullConfigDirectory&) = delete;
  FullConfigDirectory& operator=(const FullConfigDirectory&) = delete;
  ~FullConfigDirectory() { ::umount2("/etc/wireless", MNT_DETACH); }

  std::optional<std::string> config() const { return harness::read_file(storage_.path() / "bluetooth.conf"); }

 private:
  harness::SmallFileSystem storage_;
};

struct StorageFault {
  const char* name;
  std::function<void(ServiceRig&)> break_storage;
  const char* complaint;
};

TEST(StorageFault, AnUnwritableConfigDirectoryIsComplainedAboutWhileTheLevelIsStillApplied) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  const StorageFault rows[] = {
      {"read-only", [](ServiceRig& rig) { rig.sandbox().make_read_only(); },
       "Error: Failed to create a temporary file for \"/etc/wireless/bluetooth.conf\": Read-only file system\n"},
      {"missing", [](ServiceRig& rig) { std::filesystem::remove_all(rig.sandbox().directory()); },
       "Error: Failed to create a temporary file for \"/etc/wireless/bluetooth.conf\": No such file or directory\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ServiceRig rig;
    auto& service = rig.start_serving();
    row.break_storage(rig);
    BusClient client(rig.bus());
    for (const int level : {25, 3}) {
      const std::size_t complaints = service.standard_error().size();
      EXPECT_EQ(call(client, harness::set_range(level)), "return");
      EXPECT_TRUE(service.wait_until([&] { return service.standard_error().size() > complaints; }, 10s));
      EXPECT_EQ(service.standard_error().substr(complaints), row.complaint);
      EXPECT_EQ(call(client, harness::get_range()), "return v i " + std::to_string(level));
    }
    EXPECT_FALSE(service.has_exited());
    if (std::string(row.name) == "missing") {
      EXPECT_FALSE(std::filesystem::exists(rig.sandbox().directory())) << "nothing was created in its place";
      std::filesystem::create_directory(rig.sandbox().directory());  // for the sandbox's own clean-up
    } else {
      EXPECT_EQ(rig.config(), harness::stored_file(7));
      EXPECT_EQ(rig.sandbox().listing(), "bluetooth.conf\n");
    }
  }
}

TEST(StorageFault, AFullConfigDirectoryKeepsTheOldFileWholeAndLeavesNoTemporary) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  ServiceRig rig;
  FullConfigDirectory full(harness::stored_file(7));
  auto& service = rig.start_serving();
  BusClient client(rig.bus());
  EXPECT_EQ(call(client, harness::set_range(25)), "return");
  EXPECT_TRUE(service.wait_for_output(harness::Process::Stream::error, "\n"));
  EXPECT_EQ(service.standard_error(),
            "Error: Failed to write \"/etc/wireless/bluetooth.conf\": No space left on device\n");
  EXPECT_EQ(call(client, harness::get_range()), "return v i 25");
  EXPECT_EQ(full.config(), harness::stored_file(7));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("/etc/wireless"))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"bluetooth.conf", "filler"}));
  EXPECT_FALSE(service.has_exited());
}

TEST(ClosedDescriptors, AServiceStartedWithoutStandardDescriptorsServesAndStillEndsWithStatusOne) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  ServiceRig rig({.closed_descriptors = {0, 1, 2}});
  auto& service = rig.start_serving();
  {
    BusClient client(rig.bus());
    // The success line of each Set goes to /dev/null; were descriptor 1 the bus socket or the
    // file, the daemon would drop the service or the file would be corrupt.
    for (const int level : {25, 0, 30}) {
      EXPECT_EQ(call(client, harness::set_range(level)), "return");
      EXPECT_EQ(call(client, harness::get_range()), "return v i " + std::to_string(level));
      EXPECT_EQ(rig.config(), harness::stored_file(level));
    }
    EXPECT_EQ(rig.bridge().calls().back(), "hci0 0x3f 0x0087 0xa");
  }
  rig.bus().kill();
  EXPECT_EQ(service.wait_for_exit(15s), ExitStatus::exited(1));
}

}  // namespace
}  // namespace reliability
