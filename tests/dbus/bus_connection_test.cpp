#include "dbus/bus_connection.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "dbus/message_reader.hpp"
#include "dbus/pump_until.hpp"
#include "dbus/raw_message.hpp"
#include "platform/fd/unique_fd.hpp"
#include "tests/harness/private_bus.hpp"

namespace dbus {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view disconnected_message = "Failed to read/write data, disconnected from D-Bus?";

std::string unique_name(const BusConnection& connection) { return std::string(connection.unique_name()); }

// A blocking call to the bus daemon: once it returns, whatever the daemon sent this connection
// before the reply sits in the connection's incoming queue.
std::expected<Message, BusError> call_daemon(const BusConnection& connection, const char* member,
                                             const std::vector<CallArg>& args = {}) {
  return connection.call_daemon(MemberName::from_constant(member), args, 5s);
}

Message signal_to(const BusConnection& target, const char* interface, const char* member) {
  Message signal = Message::signal(BusPath::from_constant("/com/example/Test"), InterfaceName::from_constant(interface),
                                   MemberName::from_constant(member));
  dbus_message_set_destination(RawMessage::get(signal), unique_name(target).c_str());
  return signal;
}

// Pumps both connections in turn until `done` holds; false after a bounded number of rounds.
template <class Done>
bool pump_until(BusConnection& a, BusConnection& b, Done done) {
  for (int round = 0; round < 500 && !done(); ++round) {
    if (!a.process_one(10ms) || !b.process_one(10ms)) return false;
  }
  return done();
}

TEST(BusConnectionTest, OpeningFailsWithLibdbusErrorWhenNoBusRuns) {
  harness::PrivateBus bus({.this_process_too = true});
  bus.kill();
  const auto connection = BusConnection::open_system_bus();
  ASSERT_FALSE(connection.has_value());
  EXPECT_TRUE(connection.error().name().starts_with("org.freedesktop.DBus.Error.")) << connection.error().detailed();
  EXPECT_FALSE(connection.error().message().empty());
}

TEST(BusConnectionTest, TheFirstRequestOwnsTheNameAndALaterOneIsQueuedYetSucceeds) {
  harness::PrivateBus bus({.this_process_too = true});
  auto first = BusConnection::open_system_bus();
  auto second = BusConnection::open_system_bus();
  ASSERT_TRUE(first && second);
  const BusName name = BusName::from_constant("com.orbo.RIDEviva");
  EXPECT_TRUE(first->request_name(name, 2));
  EXPECT_TRUE(second->request_name(name, 2));  // the daemon answers 2, in queue

  auto owner = call_daemon(*first, "GetNameOwner", {name.str()});
  ASSERT_TRUE(owner.has_value()) << owner.error().detailed();
  EXPECT_EQ(MessageReader(*owner).read_string(), unique_name(*first));

  auto queued = call_daemon(*first, "ListQueuedOwners", {name.str()});
  ASSERT_TRUE(queued.has_value()) << queued.error().detailed();
  EXPECT_STREQ(dbus_message_get_signature(RawMessage::get(*queued)), "as");
}

TEST(BusConnectionTest, ARequestThePolicyForbidsComesBackAsTheDaemonsError) {
  harness::PrivateBus bus({.this_process_too = true,
                           .extra_config = R"(<policy context="default"><deny own="com.orbo.RIDEviva"/></policy>)"});
  auto connection = BusConnection::open_system_bus();
  ASSERT_TRUE(connection.has_value()) << connection.error().detailed();
  const auto refused = connection->request_name(BusName::from_constant("com.orbo.RIDEviva"), 2);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().name(), "org.freedesktop.DBus.Error.AccessDenied");
  EXPECT_NE(refused.error().message().find("com.orbo.RIDEviva"), std::string_view::npos);
  EXPECT_TRUE(connection->request_name(BusName::from_constant("com.orbo.Other"), 2));
}

TEST(BusConnectionTest, AStepWithNothingToReadSucceedsWithoutCallingAnyReceiver) {
  harness::PrivateBus bus({.this_process_too = true});
  auto connection = BusConnection::open_system_bus();
  ASSERT_TRUE(connection.has_value());
  std::vector<std::string> seen;
  connection->add_receiver({}, [&](Message message, BusConnection&) {
    seen.emplace_back(message.member().value_or(""));
    return true;
  });
  ASSERT_TRUE(call_daemon(*connection, "GetId"));  // NameAcquired is queued by now

  EXPECT_TRUE(connection->process_one(50ms));
  EXPECT_EQ(seen, std::vector<std::string>{"NameAcquired"});
  EXPECT_TRUE(connection->process_one(50ms));
  EXPECT_EQ(seen.size(), 1u);
}

TEST(BusConnectionTest, ReceiversAreTriedInTokenOrderAndADiscardedOneIsGone) {
  harness::PrivateBus bus({.this_process_too = true});
  auto server = BusConnection::open_system_bus();
  auto client = BusConnection::open_system_bus();
  ASSERT_TRUE(server && client);

  std::vector<std::string> seen;
  auto recorder = [&](std::string label, bool keep) {
    return [&seen, label, keep](Message message, BusConnection&) {
      seen.push_back(label + ":" + std::string(message.member().value_or("")));
      return keep;
    };
  };
  EXPECT_EQ(server->add_receiver({.member = "A"}, recorder("once", false)), 1u);
  EXPECT_EQ(server->add_receiver({.interface = "com.example.Test"}, recorder("test", true)), 2u);
  EXPECT_EQ(server->add_receiver({.member = "A"}, recorder("late", true)), 3u);

  for (const char* member : {"A", "A", "B"}) client->send(signal_to(*server, "com.example.Test", member));
  ASSERT_TRUE(pump_until(*server, *client, [&] { return seen.size() == 3; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"once:A", "test:A", "test:B"}));
}

TEST(BusConnectionTest, AHandlerMayRegisterAnotherReceiverWhileItRuns) {
  harness::PrivateBus bus({.this_process_too = true});
  auto server = BusConnection::open_system_bus();
  auto client = BusConnection::open_system_bus();
  ASSERT_TRUE(server && client);
  std::vector<std::string> seen;
  server->add_receiver({.interface = "com.example.Test"}, [&](Message message, BusConnection& connection) {
    seen.emplace_back(message.member().value_or(""));
    connection.add_receiver({.interface = "com.example.Test"}, [&](Message, BusConnection&) {
      seen.emplace_back("added");
      return true;
    });
    return false;
  });
  for (const char* member : {"A", "B"}) client->send(signal_to(*server, "com.example.Test", member));
  ASSERT_TRUE(pump_until(*server, *client, [&] { return seen.size() == 2; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "added"}));
}

// A message's time is when it was read, not when its turn came: a deadline counted from it
// includes the time spent waiting behind a slow handler.
TEST(BusConnectionTest, MessagesReadTogetherKeepTheTimeTheyWereReadWhileTheyWaitTheirTurn) {
  harness::PrivateBus bus({.this_process_too = true});
  auto server = BusConnection::open_system_bus();
  auto client = BusConnection::open_system_bus();
  ASSERT_TRUE(server && client);
  std::vector<std::chrono::steady_clock::time_point> read_at;
  server->add_receiver({.interface = "com.example.Test"}, [&](Message, BusConnection& connection) {
    read_at.push_back(connection.received_at());
    std::this_thread::sleep_for(50ms);  // a slow handler
    return true;
  });
  for (const char* member : {"A", "B"}) client->send(signal_to(*server, "com.example.Test", member));
  ASSERT_TRUE(client->process_one(0ms));       // writes both out
  ASSERT_TRUE(call_daemon(*server, "GetId"));  // both are read by now
  ASSERT_TRUE(pump_until(*server, *client, [&] { return read_at.size() == 2; }));
  EXPECT_EQ(read_at[0], read_at[1]);
}

TEST(BusConnectionTest, PeerSignalsNobodyTakesAreAnsweredToTheirSender) {
  // A reply to a signal is one the client never asked for; the daemon passes it only when allowed.
  harness::PrivateBus bus(
      {.this_process_too = true,
       .extra_config = R"(<policy context="default"><allow receive_requested_reply="false"/></policy>)"});
  auto server = BusConnection::open_system_bus();
  auto client = BusConnection::open_system_bus();
  ASSERT_TRUE(server && client);

  struct Row {
    const char* member;
    MessageType reply;
    std::string_view error_text;
  };
  const Row rows[] = {
      {"Ping", MessageType::method_return, ""},
      {"GetMachineId", MessageType::method_return, ""},
      {"Reboot", MessageType::error, "Method does not exist"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.member);
    Message signal = signal_to(*server, "org.freedesktop.DBus.Peer", row.member);
    client->send(signal);
    const dbus_uint32_t serial = dbus_message_get_serial(RawMessage::get(signal));
    std::optional<Message> answer;
    client->add_receiver({}, [&](Message message, BusConnection&) {
      if (dbus_message_get_reply_serial(RawMessage::get(message)) != serial) return true;
      answer = std::move(message);
      return false;
    });
    ASSERT_TRUE(pump_until(*server, *client, [&] { return answer.has_value(); }));
    EXPECT_EQ(answer->type(), row.reply);
    EXPECT_EQ(answer->sender(), unique_name(*server));
    MessageReader reader(*answer);
    if (row.reply == MessageType::error) {
      EXPECT_STREQ(dbus_message_get_error_name(RawMessage::get(*answer)), "org.freedesktop.DBus.Error.UnknownMethod");
      EXPECT_EQ(reader.read_string(), row.error_text);
    } else if (std::string_view(row.member) == "GetMachineId") {
      EXPECT_EQ(reader.read_string().value_or("").size(), 32u);
    }
    EXPECT_EQ(reader.current_type(), ArgType::nothing);
  }
}

TEST(BusConnectionTest, MessagesQueuedBeforeTheBusIsLostAreHandledThenTheStepFails) {
  harness::PrivateBus bus({.this_process_too = true});
  auto server = BusConnection::open_system_bus();
  auto client = BusConnection::open_system_bus();
  ASSERT_TRUE(server && client);
  std::vector<std::string> seen;
  server->add_receiver({.interface = "com.example.Test"}, [&](Message message, BusConnection&) {
    seen.emplace_back(message.member().value_or(""));
    return true;
  });

  for (const char* member : {"First", "Second", "Third"}) client->send(signal_to(*server, "com.example.Test", member));
  // The daemon handles each connection's messages in order: once both calls are answered, the
  // three signals sit in the server's incoming queue.
  ASSERT_TRUE(call_daemon(*client, "GetId"));
  ASSERT_TRUE(call_daemon(*server, "GetId"));
  bus.kill();

  std::optional<BusError> failure;
  for (int step = 0; step < 20 && !failure; ++step) {
    if (auto result = server->process_one(100ms); !result) failure = std::move(result.error());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"First", "Second", "Third"}));
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->name(), "org.freedesktop.DBus.Error.Failed");
  EXPECT_EQ(failure->text(), disconnected_message);
}

TEST(BusConnectionTest, AMovedConnectionKeepsItsReceiversAndTheEmptyOneReportsDisconnection) {
  harness::PrivateBus bus({.this_process_too = true});
  auto opened = BusConnection::open_system_bus();
  ASSERT_TRUE(opened.has_value());
  int calls = 0;
  opened->add_receiver({}, [&](Message, BusConnection&) {
    ++calls;
    return true;
  });
  BusConnection moved = std::move(*opened);
  EXPECT_EQ(opened->unix_fd(), -1);
  const auto step = opened->process_one(0ms);
  ASSERT_FALSE(step.has_value());
  EXPECT_EQ(step.error().text(), disconnected_message);
  const auto request = opened->request_name(BusName::from_constant("com.orbo.RIDEviva"), 2);
  ASSERT_FALSE(request.has_value());
  EXPECT_EQ(request.error().text(), disconnected_message);
  ASSERT_TRUE(call_daemon(moved, "GetId"));  // NameAcquired is queued by now
  EXPECT_TRUE(moved.process_one(0ms));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(moved.add_receiver({}, [](Message, BusConnection&) { return true; }), 2u);
}

// The loop ends with success when told to stop, and with the failure when the bus is lost, also
// when a call noticed it first: it never waits on a connection that is gone.
TEST(BusConnectionTest, PumpingUntilReadableEndsOnTheStopDescriptorOrWithTheLossOfTheBus) {
  enum class End { stop, bus_lost, bus_lost_before };
  const std::pair<const char*, End> rows[] = {
      {"stop written", End::stop}, {"bus lost", End::bus_lost}, {"bus lost before", End::bus_lost_before}};
  for (const auto& [what, end] : rows) {
    SCOPED_TRACE(what);
    harness::PrivateBus bus({.this_process_too = true});
    auto connection = BusConnection::open_system_bus();
    ASSERT_TRUE(connection.has_value());
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const platform::UniqueFd stop(ends[0]), stopper(ends[1]);
    if (end == End::bus_lost_before) {
      bus.kill();
      ASSERT_FALSE(call_daemon(*connection, "GetId"));
    }
    auto pumping = std::async(std::launch::async, [&] { return pump_until_readable(*connection, stop.get()); });

    if (end == End::bus_lost) bus.kill();
    if (end == End::stop) {
      ASSERT_EQ(::write(stopper.get(), "x", 1), 1);
    }
    const bool ended = pumping.wait_for(10s) == std::future_status::ready;
    if (!ended) {
      ASSERT_EQ(::write(stopper.get(), "x", 1), 1);  // so that the thread ends
    }
    ASSERT_TRUE(ended);
    const auto result = pumping.get();
    EXPECT_EQ(result.has_value(), end == End::stop);
    if (!result) {
      EXPECT_EQ(result.error().text(), disconnected_message);
    }
  }
}

}  // namespace
}  // namespace dbus
