#pragma once
// A plain client on a private bus, for what command-line clients cannot show: the order of
// messages on one connection, names owned, calls left pending.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "dbus/bus_connection.hpp"
#include "dbus/message.hpp"
#include "tests/harness/private_bus.hpp"

namespace integration {

using namespace std::chrono_literals;

inline constexpr const char* service_name = "com.orbo.RIDEviva";
inline constexpr const char* service_path = "/com/orbo/RIDEviva";
inline constexpr const char* legacy_interface = "com.orbo.Configuration.Legacy";

// A private connection to the bus at `address`, registered with the daemon; throws when the bus
// cannot be reached.
dbus::BusConnection connect(const std::string& address);

class BusClient {
 public:
  explicit BusClient(const harness::PrivateBus& bus);
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

 private:
  dbus::BusConnection connection_;
  std::deque<dbus::Message> backlog_;  // arrived and not yet taken, in order
};

// Calls to the service's object (destination `to`, by default the well-known name).
dbus::Message get_range(const std::string& to = service_name);
dbus::Message get_all(const std::string& to = service_name);
dbus::Message set_range(std::int32_t level, const std::string& to = service_name);
dbus::Message introspect(const std::string& to = service_name);

// What a message says: "error NAME: MESSAGE", "()", "i 25", "s TEXT", "[Range=i 25]", or
// "signal MEMBER: " and its arguments.
std::string describe(const dbus::Message& message);
// The Range entry of a PropertiesChanged signal from the service's object, if it is one.
std::optional<std::int32_t> changed_range(const dbus::Message& message);

}  // namespace integration
