#pragma once
// A plain client on a private bus, for what command-line clients cannot show: the order of
// messages on one connection, names owned, calls left pending.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "dbus/bus_connection.hpp"
#include "dbus/message.hpp"
#include "tests/harness/message_builder.hpp"
#include "tests/harness/private_bus.hpp"

namespace harness {

using namespace std::chrono_literals;

// A private connection to the bus at `address`, registered with the daemon; throws when the bus
// cannot be reached.
dbus::BusConnection connect(const std::string& address);

class BusClient {
 public:
  explicit BusClient(const PrivateBus& bus);
  BusClient(const BusClient&) = delete;
  BusClient& operator=(const BusClient&) = delete;

  std::string unique_name() const;

  // Receives the signals the rule names from now on. BLOCKS for one round trip.
  void add_match(const std::string& rule);
  // Queues the message and writes it out; gives its serial.
  std::uint32_t send(dbus::Message& message);
  // The next message that arrives, or an empty one when none comes within the limit.
  dbus::Message next(std::chrono::milliseconds limit = 10s);
  // Sends and waits for the reply to it. Whatever else arrived before it goes to `before`, or
  // stays for next() when that is null.
  dbus::Message call(dbus::Message& message, std::vector<dbus::Message>* before = nullptr,
                     std::chrono::milliseconds limit = 10s);

  // org.freedesktop.DBus.RequestName on this connection: the bus daemon's reply code.
  std::uint32_t request_name(const std::string& name, std::uint32_t flags);
  // org.freedesktop.DBus.ListQueuedOwners: primary owner first.
  std::vector<std::string> queued_owners(const std::string& name);
  // org.freedesktop.DBus.ListNames: every name on the bus, unique ones too.
  std::vector<std::string> names();

 private:
  // A call to the bus daemon that answers an array of strings.
  std::vector<std::string> daemon_list(const char* member, std::vector<Arg> arguments);

  dbus::BusConnection connection_;
  std::deque<dbus::Message> backlog_;  // arrived and not yet taken, in order
};

}  // namespace harness
