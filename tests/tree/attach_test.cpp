// The tree attached to a real connection on a private bus, called by a second connection.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbus/bus_connection.hpp"
#include "test_tree.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/message_builder.hpp"
#include "tests/harness/private_bus.hpp"
#include "tree/object_tree.hpp"

namespace tree_test {
namespace {

using namespace std::chrono_literals;
using namespace harness::args;
using harness::describe;

// What the client has received: change signals and replies, each reply tagged with the
// serial of the call it answers.
bool record(const dbus::Message& message, std::vector<std::string>& seen) {
  const bool change = message.member() == "PropertiesChanged";
  if (message.type() == dbus::MessageType::signal && !change) return true;  // NameAcquired and the like
  const std::uint32_t answers = message.reply_serial();
  seen.push_back((answers != 0 ? std::to_string(answers) + " " : std::string()) + describe(message));
  return true;
}

dbus::Message call_to(const std::string& destination, std::uint32_t serial, std::string path, std::string member,
                      std::vector<harness::Arg> args) {
  return harness::build({.destination = destination,
                         .path = std::move(path),
                         .interface = "org.freedesktop.DBus.Properties",
                         .member = std::move(member),
                         .args = std::move(args),
                         .serial = serial});
}

TEST(AttachedTree, AnswersCallsOverTheBusInOrderAndIgnoresUnknownPaths) {
  harness::PrivateBus bus({.this_process_too = true});
  auto server = dbus::BusConnection::open_system_bus();
  auto client = dbus::BusConnection::open_system_bus();
  ASSERT_TRUE(server && client);
  auto values = std::make_shared<Values>();
  tree::attach(test_tree(values), *server);

  const auto added = client->call_daemon(dbus::MemberName::from_constant("AddMatch"),
                                         {std::string("type='signal',member='PropertiesChanged'")}, 5s);
  ASSERT_TRUE(added) << added.error().detailed();

  const std::string destination(server->unique_name());
  // Sent in this order and answered in this order: a reply to the first call would arrive
  // before the reply to the last one, so once that is in, the first is known to be unanswered.
  client->send(call_to(destination, 1001, "/test/elsewhere", "Get", {s("com.test.Things"), s("Level")}));
  client->send(call_to(destination, 1002, object_path, "Set", {s("com.test.Things"), s("Level"), v(i(5))}));
  client->send(call_to(destination, 1003, object_path, "Get", {s("com.test.Things"), s("Level")}));

  std::vector<std::string> seen;
  client->add_receiver({}, [&](dbus::Message message, dbus::BusConnection&) { return record(message, seen); });
  for (int round = 0; round < 500 && (seen.empty() || !seen.back().starts_with("1003 ")); ++round) {
    ASSERT_TRUE(server->process_one(10ms));
    ASSERT_TRUE(client->process_one(10ms));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "signal /test/object org.freedesktop.DBus.Properties.PropertiesChanged s \"com.test.Things\", "
                      "a{sv} [{s \"Level\": v i 10}, {s \"Mirror\": v i 11}], as [s \"Shadow\"]",
                      "1002 return", "1003 return v i 10"}));
  EXPECT_EQ(values->level, 10);
}

}  // namespace
}  // namespace tree_test
