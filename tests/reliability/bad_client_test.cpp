// Hostile and careless clients: every argument shape for Get, GetAll and Set, every member of
// every interface called wrongly, paths that are not ours, clients that leave with replies
// pending, and a flood of signals. Each gets its exact answer, or none where none is due, and
// the service goes on serving.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/integration/service_rig.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using namespace harness::args;
using harness::Arg;
using harness::build;
using harness::BusClient;
using harness::describe;
using harness::range_call;
using harness::Shape;
using harness::shortened;
using integration::ServiceRig;

const std::string legacy = "com.orbo.Configuration.Legacy";
const std::string properties = "org.freedesktop.DBus.Properties";

std::string error(const std::string& name, const std::string& text) {
  return "error org.freedesktop.DBus.Error." + name + ": " + text;
}
std::string mismatch(int position, const std::string& found) {
  return error("Failed", "D-Bus argument type mismatch at position " + std::to_string(position) +
                             ": expected String, found " + found);
}
std::string invalid_interface(const std::string& quoted_name) {
  return error("InvalidArgs", "Invalid argument \"Interface name was not valid: '" + quoted_name + "'\"");
}

std::string escaped_ones(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += "\\u{1}";
  return text;
}

const std::string introspectable = "org.freedesktop.DBus.Introspectable";
const std::string peer = "org.freedesktop.DBus.Peer";

Shape get(std::vector<Arg> args) { return range_call(properties, "Get", std::move(args)); }
Shape get_all(std::vector<Arg> args) { return range_call(properties, "GetAll", std::move(args)); }
Shape set(std::vector<Arg> args) { return range_call(properties, "Set", std::move(args)); }
Arg level(std::int32_t value) { return v(i(value)); }

// Addressed to the service (unicast), as a flooding client would send it.
dbus::Message signal_to_service(std::string interface, std::string member) {
  return build({.type = static_cast<int>(dbus::MessageType::signal),
                .destination = harness::range_service,
                .path = "/com/orbo/Flood",
                .interface = std::move(interface),
                .member = std::move(member)});
}

struct Row {
  const char* name;
  Shape call;
  std::string answer;
};

class BadClient : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT(harness::sandbox_mounts);
    service_ = &rig_.emplace().start_serving();
    client_.emplace(rig_->bus());
    auto document = harness::introspect();
    document_ = describe(client_->call(document));
  }

  void expect_still_serving() {
    auto check = harness::get_range();
    EXPECT_EQ(describe(client_->call(check, nullptr, 20s)), "return v i 7");
    EXPECT_FALSE(service_->has_exited()) << service_->standard_error();
  }

  std::optional<ServiceRig> rig_;
  harness::Process* service_ = nullptr;
  std::optional<BusClient> client_;
  std::string document_;
};

TEST_F(BadClient, EveryArgumentShapeOfGetGetAllAndSetGetsItsExactAnswer) {
  const std::string long_name(1 << 20, 'R');
  const std::string long_interface(1 << 20, 'a');
  const Row rows[] = {
      {"Get without arguments", get({}), mismatch(0, "nothing")},
      {"Get with a number for the interface", get({i(1)}), mismatch(0, "i32")},
      {"Get without the property", get({s(legacy)}), mismatch(1, "nothing")},
      {"Get with a number for the property", get({s(legacy), i(5)}), mismatch(1, "i32")},
      {"Get with the interface in a variant", get({v(s(legacy)), s("Range")}), mismatch(0, "Variant")},
      {"Get with an object path", get({o("/com/orbo"), s("Range")}), mismatch(0, "Path")},
      {"Get with an array", get({a("s", {s(legacy)}), s("Range")}), mismatch(0, "Array/Dict")},
      {"Get with extra arguments", get({s(legacy), s("Range"), s("x"), i(9)}), "return v i 7"},
      {"Get with an empty interface", get({s(""), s("Range")}), invalid_interface("")},
      {"Get with control characters in the interface", get({s("com.orbo\x01\x1b[2J"), s("Range")}),
       invalid_interface("com.orbo\\u{1}\\u{1b}[2J")},
      {"Get with quotes and escapes in the interface", get({s("a.\"\\\t\r\n'"), s("Range")}),
       invalid_interface("a.\\\"\\\\\\t\\r\\n'")},
      // Names past the D-Bus limit of 255 bytes are answered with their first 256 bytes: quoted in
      // full, 7 MiB of control characters would make a reply beyond the bus's message limit, and
      // the daemon would drop the service for sending it.
      {"Get with a megabyte interface", get({s(long_interface), s("Range")}),
       invalid_interface(long_interface.substr(0, 256))},
      {"Get with an interface of 7 MiB control characters", get({s(std::string(7 << 20, '\x01')), s("Range")}),
       invalid_interface(escaped_ones(256))},
      {"Get with a long interface cut inside a character",
       get({s(std::string(255, 'a') + "\xc3\xa9" + long_interface), s("Range")}),
       invalid_interface(std::string(255, 'a'))},
      {"Get of an interface the object lacks", get({s("com.orbo.Nothing"), s("Range")}),
       error("UnknownInterface", "Unknown interface com.orbo.Nothing")},
      {"Get of a property in the wrong case", get({s(legacy), s("range")}),
       error("UnknownProperty", "Unknown property range")},
      {"Get of a property with control characters", get({s(legacy), s("Ra\x01\x1b[2Jnge\x7f")}),
       error("UnknownProperty", "Unknown property Ra\x01\x1b[2Jnge\x7f")},
      {"Get of a megabyte property name", get({s(legacy), s(long_name)}),
       error("UnknownProperty", "Unknown property \"" + long_name.substr(0, 256) + "\" (1048576 bytes)")},
      {"Get of a property name of 7 MiB control characters", get({s(legacy), s(std::string(7 << 20, '\x01'))}),
       error("UnknownProperty", "Unknown property \"" + escaped_ones(256) + "\" (7340032 bytes)")},
      {"Get of a property name of 255 bytes, the longest a member name may be",
       get({s(legacy), s(long_name.substr(0, 255))}),
       error("UnknownProperty", "Unknown property " + long_name.substr(0, 255))},
      {"Get of Range on the Properties interface", get({s(properties), s("Range")}),
       error("UnknownProperty", "Unknown property Range")},

      {"GetAll without arguments", get_all({}), mismatch(0, "nothing")},
      {"GetAll with a number", get_all({i(1)}), mismatch(0, "i32")},
      {"GetAll with a byte", get_all({y(1)}), mismatch(0, "u8")},
      {"GetAll with extra arguments", get_all({s(legacy), s("x"), level(3)}), harness::all_properties(7)},
      {"GetAll of an interface without properties", get_all({s(introspectable)}), "return a{sv} []"},
      {"GetAll with a dot-less name", get_all({s("Range")}), invalid_interface("Range")},

      {"Set without a value", set({s(legacy), s("Range")}), error("InvalidArgs", "Invalid argument 2")},
      {"Set with a bare number", set({s(legacy), s("Range"), i(5)}), error("InvalidArgs", "Invalid argument 2")},
      {"Set with an array", set({s(legacy), s("Range"), a("s", {s("5")})}), error("InvalidArgs", "Invalid argument 2")},
      {"Set with a byte", set({s(legacy), s("Range"), v(y(5))}), error("Failed", "Property Range cannot change type")},
      {"Set with an unsigned number", set({s(legacy), s("Range"), v(u(5))}),
       error("Failed", "Property Range cannot change type")},
      {"Set with a text", set({s(legacy), s("Range"), v(s("5"))}),
       error("Failed", "Property Range cannot change type")},
      {"Set with a nested variant", set({s(legacy), s("Range"), v(v(i(5)))}),
       error("Failed", "Property Range cannot change type")},
      {"Set above the range", set({s(legacy), s("Range"), level(31)}),
       error("InvalidArgs", harness::level_refused(31))},
      {"Set of the smallest number", set({s(legacy), s("Range"), level(INT_MIN)}),
       error("InvalidArgs", harness::level_refused(INT_MIN))},
      {"Set of the largest number", set({s(legacy), s("Range"), level(INT_MAX)}),
       error("InvalidArgs", harness::level_refused(INT_MAX))},
      {"Set of a property in the wrong case", set({s(legacy), s("range"), level(5)}),
       error("UnknownProperty", "Unknown property range")},
      {"Set of Range on the Properties interface", set({s(properties), s("Range"), level(5)}),
       error("UnknownProperty", "Unknown property Range")},
      {"Set with a number for the interface", set({i(1), s("Range"), level(5)}), mismatch(0, "i32")},
      {"Set with a number for the property", set({s(legacy), i(1), level(5)}), mismatch(1, "i32")},
      {"Set with extra arguments after the value", set({s(legacy), s("Range"), level(7), s("x")}), "return"},

      {"Introspect with arguments", range_call(introspectable, "Introspect", {s("x"), i(1)}), document_},
      {"a member Properties lacks", range_call(properties, "Frobnicate", {s(legacy)}),
       error("UnknownMethod", "Unknown method ")},
      {"the change signal called as a method", range_call(properties, "PropertiesChanged", {s(legacy)}),
       error("UnknownMethod", "Unknown method ")},
      {"Get on the Introspectable interface", range_call(introspectable, "Get", {s(legacy)}),
       error("UnknownMethod", "Unknown method ")},
      {"the property called as a method", range_call(legacy, "Range", {i(5)}),
       error("UnknownMethod", "Unknown method ")},
      {"Peer Ping on the object", range_call(peer, "Ping"), error("UnknownInterface", "Unknown interface ")},
      {"Peer GetMachineId on the object", range_call(peer, "GetMachineId"),
       error("UnknownInterface", "Unknown interface ")},
      {"Get without an interface header", range_call("", "Get", {s(legacy), s("Range")}),
       error("UnknownInterface", "Unknown interface ")},
      {"Introspect without an interface header", range_call("", "Introspect"),
       error("UnknownInterface", "Unknown interface ")},
      {"an interface nobody has", range_call("com.orbo.Nope", "Get"), error("UnknownInterface", "Unknown interface ")},
  };
  ASSERT_TRUE(document_.starts_with("return s \"<!DOCTYPE node PUBLIC")) << document_;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto request = build(row.call);
    const std::string answer = describe(client_->call(request, nullptr, 20s));
    EXPECT_TRUE(answer == row.answer) << "answer:   " << shortened(answer) << "\nexpected: " << shortened(row.answer);
  }
  expect_still_serving();
  EXPECT_EQ(rig_->config(), harness::stored_file(7));
  RecordProperty("rows", static_cast<int>(std::size(rows)));
}

TEST_F(BadClient, CallsToPathsThatAreNotOursGetNoReplyAtAll) {
  const char* paths[] = {
      "/", "/com", "/com/orbo", "/com/orbo/rideviva", "/com/orbo/RIDEviva/child", "/com/orbo/RIDEvivaX"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    Shape elsewhere = get({s(legacy), s("Range")});
    elsewhere.path = path;
    auto ignored = build(elsewhere);
    client_->send(ignored);
    // The service answers in the order it receives: once the next call is answered, the first
    // would have been too.
    auto next = harness::get_range();
    std::vector<dbus::Message> before;
    EXPECT_EQ(describe(client_->call(next, &before, 20s)), "return v i 7");
    EXPECT_TRUE(before.empty()) << describe(before.front());
  }
}

TEST_F(BadClient, AMessageOfATypeDBusDoesNotDefineNeverDisturbsTheService) {
  for (const int type : {5, 48, 255}) {
    SCOPED_TRACE(type);
    Shape odd_type = get({});
    odd_type.type = type;
    dbus::Message odd = build(odd_type);
    ASSERT_TRUE(odd);
    client_->send(odd);
    auto next = harness::get_range();
    std::vector<dbus::Message> before;
    EXPECT_EQ(describe(client_->call(next, &before, 20s)), "return v i 7");
    // The daemon turns it away; the object tree, which would stop at such a type, never sees it.
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(describe(before.front()),
              error("AccessDenied", "Message bus will not accept messages of unknown type\n"));
  }
  EXPECT_FALSE(service_->has_exited()) << service_->standard_error();
}

TEST_F(BadClient, ClientsThatLeaveWithRepliesPendingDoNotDisturbTheService) {
  rig_->bridge().set_control("delay_ms=300\n");
  for (int round = 0; round < 20; ++round) {
    BusClient leaving(rig_->bus());
    auto slow = harness::set_range(round % 2 == 0 ? 12 : 7);
    leaving.send(slow);
    for (int i = 0; i < 20; ++i) {
      auto pending = i % 2 == 0 ? harness::get_range() : harness::introspect();
      leaving.send(pending);
    }
  }  // each client closes its connection with everything still unanswered
  rig_->bridge().set_control("");
  BusClient staying(rig_->bus());
  // Twenty Sets went through before this call is served, the last one to 7.
  auto check = harness::get_range();
  EXPECT_EQ(describe(staying.call(check, nullptr, 30s)), "return v i 7");
  EXPECT_EQ(rig_->config(), harness::stored_file(7));
  EXPECT_FALSE(service_->has_exited()) << service_->standard_error();
}

TEST(SignalFlood, IsAnsweredOnlyWhereThePumpAnswersAndServingGoesOn) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  // Answers to signals are replies nobody asked for; a bus lets them through only when its policy
  // says so, and this one does, so that the test sees what the service sends.
  ServiceRig rig({.bus = {.extra_config = "<policy context=\"default\">"
                                          "<allow receive_sender=\"*\" receive_requested_reply=\"false\"/>"
                                          "</policy>"}});
  auto& service = rig.start_serving();
  constexpr int flood = 5000;
  BusClient flooder(rig.bus());
  std::vector<std::uint32_t> answered;
  for (int i = 0; i < flood; ++i) {
    const int kind = i % 4;
    auto signal = kind == 0   ? signal_to_service(peer, "Ping")
                  : kind == 1 ? signal_to_service(peer, "Reboot")
                  : kind == 2 ? signal_to_service(properties, "PropertiesChanged")
                              : signal_to_service("com.orbo.Noise", "Noise");
    const std::uint32_t serial = flooder.send(signal);
    if (kind < 2) answered.push_back(serial);
  }
  auto last = harness::get_range();
  std::vector<dbus::Message> before;
  EXPECT_EQ(describe(flooder.call(last, &before, 60s)), "return v i 7");
  // Peer signals are answered as calls would be; every other signal gets nothing.
  ASSERT_EQ(before.size(), answered.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(before[i].reply_serial(), answered[i]);
    EXPECT_EQ(describe(before[i]), i % 2 == 0 ? "return" : error("UnknownMethod", "Method does not exist"));
  }
  BusClient other(rig.bus());
  auto check = harness::get_range();
  EXPECT_EQ(describe(other.call(check, nullptr, 20s)), "return v i 7");
  EXPECT_FALSE(service.has_exited()) << service.standard_error();
}

}  // namespace
}  // namespace reliability
