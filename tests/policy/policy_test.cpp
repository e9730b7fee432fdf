// The shipped bus policy against a real dbus-daemon: who may own the two names, read and set
// the range, and call the bridge. The service and the bridge run for real under stand-in
// accounts; clients are dbus-send run as other accounts.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* range_name = "com.orbo.RIDEviva";
constexpr const char* range_path = "/com/orbo/RIDEviva";
constexpr const char* range_interface = "com.orbo.Configuration.Legacy";
constexpr const char* bridge_name = "com.orbo.ZozovoZorOrevov";
constexpr const char* bridge_path = "/com/orbo/ZozovoZorOrevov";
constexpr const char* access_denied = "org.freedesktop.DBus.Error.AccessDenied";
// How the bus daemon words its own refusals; the bridge words its refusal differently.
constexpr const char* refused_by_bus = "Rejected send message";

// Who runs a client, a service or the bridge: setpriv arguments, empty for root itself.
struct Account {
  const char* description;
  std::vector<std::string> setpriv;
};

const Account root{"root", {}};
const Account ordinary_user{"an ordinary account", {"--reuid=nobody", "--regid=nogroup", "--clear-groups"}};
const Account administrator{"a member of the administrators' group",
                            {"--reuid=nobody", "--regid=nogroup", "--groups=" BLE_ADMIN_GROUP}};
const Account service_account{"the range service's account",
                              {"--reuid=" BLE_SERVICE_ACCOUNT, "--regid=" BLE_SERVICE_ACCOUNT, "--clear-groups"}};
const Account bridge_account{"the bridge's account",
                             {"--reuid=" BLE_BRIDGE_ACCOUNT, "--regid=" BLE_BRIDGE_ACCOUNT, "--clear-groups"}};

// The program and arguments that run `command` as `account`, under the emulator if any.
std::pair<std::string, std::vector<std::string>> as(const Account& account, std::vector<std::string> command) {
  std::vector<std::string> argv;
  if (!account.setpriv.empty()) {
    argv.push_back("/usr/bin/setpriv");
    argv.insert(argv.end(), account.setpriv.begin(), account.setpriv.end());
    argv.push_back("--");
  }
  argv.insert(argv.end(), command.begin(), command.end());
  std::string program = argv.front();
  argv.erase(argv.begin());
  return {program, argv};
}

// A program of this build, under the emulator when the build is for another machine.
std::vector<std::string> emulated(std::string program, std::vector<std::string> arguments) {
  std::vector<std::string> command;
  if (!std::string_view(BLE_EMULATOR).empty()) command.push_back(BLE_EMULATOR);
  command.push_back(std::move(program));
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

// This build's service, bridge and libcfgkit, copied where every account can read them: the
// build tree may lie below a directory that only root can enter (a private temporary clone).
const fs::path& staged_programs() {
  static const auto staged = [] {
    auto directory = std::make_unique<harness::ScratchDirectory>();
    ::chmod(directory->path().c_str(), 0755);
    for (const char* file : {BLE_SERVICE_PROGRAM, BLE_BRIDGE_PROGRAM, BLE_CFGKIT_LIBRARY}) {
      const fs::path target = directory->path() / fs::path(file).filename();
      fs::copy_file(file, target, fs::copy_options::overwrite_existing);
      fs::permissions(target, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    return directory;
  }();
  return staged->path();
}

std::string staged(const char* program) { return (staged_programs() / fs::path(program).filename()).string(); }

// A client call as dbus-send reports it.
struct Reply {
  bool ok = false;
  std::string error_name;  // when refused
  std::string text;        // the printed reply, or the error message
};

// A system-type dbus-daemon with one of the rendered configurations, on a socket that every
// account can reach.
class Bus {
 public:
  explicit Bus(const char* config) {
    ::chmod(directory_.path().c_str(), 0755);
    harness::ProcessOptions options;
    options.arguments = {"--config-file=" + std::string(config),
                         "--address=unix:path=" + (directory_.path() / "socket").string(), "--nofork",
                         "--nopidfile", "--print-address=1"};
    daemon_ = std::make_unique<harness::Process>("/usr/bin/dbus-daemon", std::move(options));
    if (!daemon_->wait_for_output(harness::Process::Stream::output, "\n")) {
      throw std::runtime_error("dbus-daemon did not start: " + daemon_->standard_error());
    }
    address_ = daemon_->standard_output().substr(0, daemon_->standard_output().find('\n'));
  }

  const std::string& address() const noexcept { return address_; }

  // A program as `account`, with this bus as its system bus.
  std::unique_ptr<harness::Process> start(const Account& account, std::vector<std::string> command) const {
    auto [program, arguments] = as(account, std::move(command));
    harness::ProcessOptions options;
    options.arguments = std::move(arguments);
    // The staged service finds the staged libcfgkit first: its own run path names the build tree.
    options.environment = {{"DBUS_SYSTEM_BUS_ADDRESS", address_}, {"LD_LIBRARY_PATH", staged_programs().string()}};
    return std::make_unique<harness::Process>(program, std::move(options));
  }

  Reply call(const Account& account, std::vector<std::string> dbus_send_arguments) const {
    std::vector<std::string> command = {"/usr/bin/dbus-send", "--system", "--print-reply"};
    command.insert(command.end(), dbus_send_arguments.begin(), dbus_send_arguments.end());
    auto [program, arguments] = as(account, std::move(command));
    harness::ProcessOptions options;
    options.arguments = std::move(arguments);
    options.environment = {{"DBUS_SYSTEM_BUS_ADDRESS", address_}};
    auto finished = harness::run_to_end(program, std::move(options), 30s);
    Reply reply;
    reply.ok = finished.status == harness::ExitStatus::exited(0);
    reply.text = reply.ok ? finished.standard_output : finished.standard_error;
    // "Error <name>: <message>"
    if (!reply.ok && reply.text.starts_with("Error ")) {
      const auto colon = reply.text.find(": ");
      reply.error_name = reply.text.substr(6, colon - 6);
      reply.text = reply.text.substr(colon + 2);
    }
    return reply;
  }

  bool has_owner(const char* name) const {
    auto reply = call(root, {"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.NameHasOwner", std::string("string:") + name});
    return reply.ok && reply.text.find("boolean true") != std::string::npos;
  }

  // Waits (bounded) until `process` owns `name`; false when it ends or time runs out first.
  bool wait_for_owner(harness::Process& process, const char* name) const {
    return process.wait_until([&] { return process.has_exited() || has_owner(name); }, 10s) &&
           !process.has_exited();
  }

 private:
  harness::ScratchDirectory directory_;
  std::unique_ptr<harness::Process> daemon_;
  std::string address_;
};

std::unique_ptr<harness::Process> start_bridge(const Bus& bus) {
  return bus.start(bridge_account, emulated(staged(BLE_BRIDGE_PROGRAM), {"--simulate", "--allow-user", BLE_SERVICE_ACCOUNT}));
}

std::vector<std::string> execute_hcitool() {
  return {std::string("--dest=") + bridge_name, bridge_path, std::string(bridge_name) + ".ExecuteHcitool",
          "string:hci0", "string:0x3f", "string:0x0087", "string:0x0"};
}

std::vector<std::string> request_name(const char* name) {
  return {"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.RequestName",
          std::string("string:") + name, "uint32:0"};
}

std::vector<std::string> range_call(const std::string& method, std::vector<std::string> arguments) {
  std::vector<std::string> call = {std::string("--dest=") + range_name, range_path, method};
  call.insert(call.end(), arguments.begin(), arguments.end());
  return call;
}

std::vector<std::string> get_range() {
  return range_call("org.freedesktop.DBus.Properties.Get", {std::string("string:") + range_interface, "string:Range"});
}

std::vector<std::string> set_range(int level) {
  return range_call("org.freedesktop.DBus.Properties.Set",
                    {std::string("string:") + range_interface, "string:Range", "variant:int32:" + std::to_string(level)});
}

// The shipped policy with the range service (level 20 stored) and the bridge running.
class ShippedPolicy : public testing::Test {
 protected:
  void SetUp() override {
    harness::enter_private_mount_namespace();
    sandbox_ = std::make_unique<harness::WirelessSandbox>();
    sandbox_->write_config("[Bluetooth]\nRange = 20\n");
    // The service replaces the file through the directory, as its own account.
    const auto owner = service_ids();
    ASSERT_EQ(::chown(sandbox_->directory().c_str(), owner.first, owner.second), 0);
    ASSERT_EQ(::chown((sandbox_->directory() / "bluetooth.conf").c_str(), owner.first, owner.second), 0);

    bus_ = std::make_unique<Bus>(BLE_SHIPPED_BUS_CONFIG);
    bridge_ = start_bridge(*bus_);
    ASSERT_TRUE(bus_->wait_for_owner(*bridge_, bridge_name)) << bridge_->standard_error();
    service_ = bus_->start(service_account, emulated(staged(BLE_SERVICE_PROGRAM), {}));
    ASSERT_TRUE(bus_->wait_for_owner(*service_, range_name))
        << "service: " << service_->standard_error() << "\nbridge: " << bridge_->standard_error();
  }

  static std::pair<uid_t, gid_t> service_ids() {
    const passwd* entry = ::getpwnam(BLE_SERVICE_ACCOUNT);
    if (entry == nullptr) throw std::runtime_error("no account " BLE_SERVICE_ACCOUNT);
    return {entry->pw_uid, entry->pw_gid};
  }

  std::unique_ptr<harness::WirelessSandbox> sandbox_;
  std::unique_ptr<Bus> bus_;
  std::unique_ptr<harness::Process> bridge_;
  std::unique_ptr<harness::Process> service_;
};

struct RangeCall {
  const Account& who;
  std::vector<std::string> call;
  std::string error_name;  // empty: answered normally
  std::string reply_has;   // something the printed reply must contain
};

TEST_F(ShippedPolicy, LetsEveryoneReadTheRangeButOnlyRootAndAdministratorsSetIt) {
  const std::vector<RangeCall> calls = {
      {ordinary_user, get_range(), "", "int32 20"},
      {ordinary_user, range_call("org.freedesktop.DBus.Properties.GetAll", {std::string("string:") + range_interface}),
       "", "Range"},
      {ordinary_user, range_call("org.freedesktop.DBus.Introspectable.Introspect", {}), "", "<node name="},
      // The object has no Peer interface, and the policy opens no call that nothing answers.
      {ordinary_user, range_call("org.freedesktop.DBus.Peer.Ping", {}), access_denied, refused_by_bus},
      {ordinary_user, set_range(21), access_denied, refused_by_bus},
      {service_account, set_range(21), access_denied, refused_by_bus},
      {ordinary_user, get_range(), "", "int32 20"},
      {administrator, set_range(22), "", ""},
      {ordinary_user, get_range(), "", "int32 22"},
      {root, set_range(23), "", ""},
      {ordinary_user, get_range(), "", "int32 23"},
  };
  for (const auto& [who, call, error_name, reply_has] : calls) {
    SCOPED_TRACE(std::string(who.description) + ": " + call[2] + " " + call.back());
    const auto reply = bus_->call(who, call);
    EXPECT_EQ(reply.error_name, error_name) << reply.text;
    EXPECT_NE(reply.text.find(reply_has), std::string::npos) << reply.text;
  }
  EXPECT_EQ(sandbox_->read_config(), "[Bluetooth]\nRange = 23\n");
}

struct Ownership {
  const Account& who;
  const char* name;
};

TEST_F(ShippedPolicy, LetsNobodyButTheDedicatedAccountTakeEitherName) {
  const std::vector<Ownership> attempts = {
      {root, range_name},           {ordinary_user, range_name}, {bridge_account, range_name},
      {root, bridge_name},          {ordinary_user, bridge_name}, {service_account, bridge_name},
  };
  for (const auto& [who, name] : attempts) {
    SCOPED_TRACE(std::string(who.description) + " taking " + name);
    const auto reply = bus_->call(who, request_name(name));
    EXPECT_EQ(reply.error_name, access_denied) << reply.text;
  }
}

struct BridgeCall {
  const Account& who;
  bool served;
};

TEST_F(ShippedPolicy, LetsOnlyTheRangeServiceAndRootCallTheBridge) {
  const std::vector<BridgeCall> calls = {
      {service_account, true}, {root, true}, {ordinary_user, false}, {administrator, false}, {bridge_account, false},
  };
  for (const auto& [who, served] : calls) {
    SCOPED_TRACE(who.description);
    const auto reply = bus_->call(who, execute_hcitool());
    if (served) {
      EXPECT_TRUE(reply.ok) << reply.error_name << ": " << reply.text;
      EXPECT_NE(reply.text.find("string \""), std::string::npos) << reply.text;
    } else {
      EXPECT_EQ(reply.error_name, access_denied) << reply.text;
      EXPECT_TRUE(reply.text.starts_with(refused_by_bus)) << reply.text;
    }
  }
}

// A local rule that opens the bridge to everyone: the bridge's own check is what remains.
TEST(OpenedBridgePolicy, BridgeItselfStillRefusesEveryoneButTheRangeServiceAndRoot) {
  Bus bus(BLE_OPENED_BUS_CONFIG);
  auto bridge = start_bridge(bus);
  ASSERT_TRUE(bus.wait_for_owner(*bridge, bridge_name)) << bridge->standard_error();

  const std::vector<BridgeCall> calls = {
      {service_account, true}, {root, true}, {ordinary_user, false}, {administrator, false},
  };
  for (const auto& [who, served] : calls) {
    SCOPED_TRACE(who.description);
    const auto reply = bus.call(who, execute_hcitool());
    if (served) {
      EXPECT_TRUE(reply.ok) << reply.error_name << ": " << reply.text;
    } else {
      EXPECT_EQ(reply.error_name, access_denied) << reply.text;
      EXPECT_FALSE(reply.text.starts_with(refused_by_bus)) << "refused by the bus, not the bridge: " << reply.text;
    }
  }
}

}  // namespace
