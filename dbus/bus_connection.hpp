#pragma once
// A private connection to the system bus, its receivers and the message pump.
#include <dbus/dbus.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "dbus/bus_error.hpp"
#include "dbus/message.hpp"
#include "dbus/names.hpp"

namespace dbus {

using ReceiverToken = std::uint64_t;

// What a receiver takes. Unset fields match anything; this service sets only the type.
struct MatchRule {
  std::optional<MessageType> type = std::nullopt;
  std::optional<std::string> sender = std::nullopt, path = std::nullopt, interface = std::nullopt,
                             member = std::nullopt;
  bool matches(const Message& message) const noexcept;
};

class BusConnection;
// Takes over the message; true keeps the receiver registered, false discards it.
using Receiver = std::function<bool(Message message, BusConnection& connection)>;

class BusConnection {
 public:
  // A new private connection with exit-on-disconnect off. BLOCKS while connecting.
  static std::expected<BusConnection, BusError> open_system_bus();

  BusConnection(BusConnection&& other) noexcept;
  BusConnection& operator=(BusConnection&& other) noexcept;
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;
  ~BusConnection();  // close, then unref, then drop the receivers

  // BLOCKS up to 5000 ms. Replies 1 to 4 are success; anything else "Invalid reply from DBus server".
  std::expected<void, BusError> request_name(const BusName& name, std::uint32_t flags);

  ReceiverToken add_receiver(MatchRule rule, Receiver receiver);

  // One pump step: pop a message, or read/write for at most timeout_ms and pop again; hand it
  // to the first matching receiver or answer it with default_reply. BLOCKS up to timeout_ms.
  std::expected<void, BusError> process_one(int timeout_ms);

  // For a loop that waits on the connection together with other descriptors: the socket, and
  // whether a message is already queued (then waiting would delay it) or output is pending.
  int unix_fd() const noexcept;
  bool has_queued_messages() const noexcept;
  bool has_messages_to_send() const noexcept;

  // Queues a reply or signal; failures are ignored. The caller keeps its reference.
  void send(const Message& message) noexcept;

  DBusConnection* raw() const noexcept { return connection_; }

 private:
  explicit BusConnection(DBusConnection* connection) noexcept : connection_(connection) {}
  void close() noexcept;

  struct Registration {
    MatchRule rule;
    Receiver receiver;
  };
  DBusConnection* connection_ = nullptr;
  std::map<ReceiverToken, Registration> receivers_;
  ReceiverToken next_token_ = 1;
};

// What a RequestName answer means: 1 to 4 (primary owner, in queue, exists, already owner) are
// success, whichever it was; anything else is "Invalid reply from DBus server".
std::expected<void, BusError> check_request_name_reply(std::uint32_t reply);

// The pump's answer to a message no receiver took: Peer Ping/GetMachineId, an error, or nothing.
std::optional<Message> default_reply(const Message& message);

}  // namespace dbus
