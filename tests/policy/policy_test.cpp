// The shipped bus policy against a real dbus-daemon: who may own the two names, read and set
// the range, and call the bridge. The service and the bridge run for real under stand-in
// accounts; clients are dbus-send run as other accounts.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness/expected_texts.hpp"
#include "tests/harness/private_bus.hpp"
#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace {

using namespace std::chrono_literals;

constexpr const char* range_name = "com.orbo.RIDEviva";
constexpr const char* range_path = "/com/orbo/RIDEviva";
constexpr const char* range_interface = "com.orbo.Configuration.Legacy";
constexpr const char* bridge_name = "com.orbo.ZozovoZorOrevov";
constexpr const char* bridge_path = "/com/orbo/ZozovoZorOrevov";
constexpr const char* access_denied = "org.freedesktop.DBus.Error.AccessDenied";
// How the bus daemon words its own refusals; the bridge words its refusal differently.
constexpr const char* refused_by_bus = "Rejected send message";

// Who runs a client, a service or the bridge: setpriv's options, none for root itself.
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

// The stand-in for the device's bus: the system bus's closed defaults and the rendered policy.
harness::PrivateBusOptions device_bus(const std::string& config) {
  return {.permissive_policy = false, .extra_config = "<include>" + config + "</include>"};
}

// This build's service or bridge as `account`, from copies every account can read. The copied
// service finds the copied libcfgkit first: its own run path names the build tree.
std::unique_ptr<harness::Process> start(const harness::PrivateBus& bus, const Account& account,
                                        const std::string& program, std::vector<std::string> arguments = {}) {
  const std::filesystem::path library = harness::readable_copy(BLE_CFGKIT_LIBRARY);
  return bus.start(harness::readable_copy(program),
                   {.arguments = std::move(arguments),
                    .environment = {{"LD_LIBRARY_PATH", library.parent_path().string()}},
                    .account = account.setpriv});
}

std::unique_ptr<harness::Process> start_bridge(const harness::PrivateBus& bus) {
  return start(bus, bridge_account, harness::bridge_program(), {"--simulate", "--allow-user", BLE_SERVICE_ACCOUNT});
}

// A client call as dbus-send reports it.
struct Reply {
  bool ok = false;
  std::string error_name;  // when refused
  std::string text;        // the printed reply, or the error message
};

Reply call(const harness::PrivateBus& bus, const Account& account, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"--system", "--print-reply"});
  const auto finished =
      bus.run("/usr/bin/dbus-send", {.arguments = std::move(arguments), .account = account.setpriv}, 30s);
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

constexpr std::string_view other_accounts = "the service, the bridge and their clients under other accounts";

std::vector<std::string> execute_hcitool() {
  return {std::string("--dest=") + bridge_name,
          bridge_path,
          std::string(bridge_name) + ".ExecuteHcitool",
          "string:hci0",
          "string:0x3f",
          "string:0x0087",
          "string:0x0"};
}

std::vector<std::string> request_name(const char* name) {
  return {"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.RequestName",
          std::string("string:") + name, "uint32:0"};
}

std::vector<std::string> range_call(const std::string& method, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {std::string("--dest=") + range_name, range_path, method});
  return arguments;
}

std::vector<std::string> get_range() {
  return range_call("org.freedesktop.DBus.Properties.Get", {std::string("string:") + range_interface, "string:Range"});
}

std::vector<std::string> set_range(int level) {
  return range_call("org.freedesktop.DBus.Properties.Set", {std::string("string:") + range_interface, "string:Range",
                                                            "variant:int32:" + std::to_string(level)});
}

// The shipped policy with the range service (level 20 stored) and the bridge running.
class ShippedPolicy : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT(other_accounts);
    sandbox_ = std::make_unique<harness::WirelessSandbox>();
    sandbox_->write_config(harness::stored_file(20));
    // The service replaces the file through the directory, as its own account.
    const passwd* owner = ::getpwnam(BLE_SERVICE_ACCOUNT);
    ASSERT_NE(owner, nullptr) << "no account " BLE_SERVICE_ACCOUNT;
    ASSERT_EQ(::chown(sandbox_->directory().c_str(), owner->pw_uid, owner->pw_gid), 0);
    ASSERT_EQ(::chown((sandbox_->directory() / "bluetooth.conf").c_str(), owner->pw_uid, owner->pw_gid), 0);

    bus_ = std::make_unique<harness::PrivateBus>(device_bus(BLE_SHIPPED_BUS_CONFIG));
    bridge_ = start_bridge(*bus_);
    ASSERT_TRUE(bus_->wait_for_name(bridge_name, bridge_.get())) << bridge_->standard_error();
    service_ = start(*bus_, service_account, harness::service_program());
    ASSERT_TRUE(bus_->wait_for_name(range_name, service_.get()))
        << "service: " << service_->standard_error() << "\nbridge: " << bridge_->standard_error();
  }

  std::unique_ptr<harness::WirelessSandbox> sandbox_;
  std::unique_ptr<harness::PrivateBus> bus_;
  std::unique_ptr<harness::Process> bridge_;
  std::unique_ptr<harness::Process> service_;
};

struct RangeCall {
  const Account& who;
  std::vector<std::string> request;
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
  for (const auto& [who, request, error_name, reply_has] : calls) {
    SCOPED_TRACE(std::string(who.description) + ": " + request[2] + " " + request.back());
    const auto reply = call(*bus_, who, request);
    EXPECT_EQ(reply.error_name, error_name) << reply.text;
    EXPECT_NE(reply.text.find(reply_has), std::string::npos) << reply.text;
  }
  EXPECT_EQ(sandbox_->read_config(), harness::stored_file(23));
}

struct Ownership {
  const Account& who;
  const char* name;
};

TEST_F(ShippedPolicy, LetsNobodyButTheDedicatedAccountTakeEitherName) {
  const std::vector<Ownership> attempts = {
      {root, range_name},  {ordinary_user, range_name},  {bridge_account, range_name},
      {root, bridge_name}, {ordinary_user, bridge_name}, {service_account, bridge_name},
  };
  for (const auto& [who, name] : attempts) {
    SCOPED_TRACE(std::string(who.description) + " taking " + name);
    const auto reply = call(*bus_, who, request_name(name));
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
    const auto reply = call(*bus_, who, execute_hcitool());
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
  REQUIRE_ROOT(other_accounts);
  harness::PrivateBus bus(device_bus(BLE_OPENED_BUS_CONFIG));
  auto bridge = start_bridge(bus);
  ASSERT_TRUE(bus.wait_for_name(bridge_name, bridge.get())) << bridge->standard_error();

  const std::vector<BridgeCall> calls = {
      {service_account, true},
      {root, true},
      {ordinary_user, false},
      {administrator, false},
  };
  for (const auto& [who, served] : calls) {
    SCOPED_TRACE(who.description);
    const auto reply = call(bus, who, execute_hcitool());
    if (served) {
      EXPECT_TRUE(reply.ok) << reply.error_name << ": " << reply.text;
    } else {
      EXPECT_EQ(reply.error_name, access_denied) << reply.text;
      EXPECT_FALSE(reply.text.starts_with(refused_by_bus)) << "refused by the bus, not the bridge: " << reply.text;
    }
  }
}

}  // namespace
