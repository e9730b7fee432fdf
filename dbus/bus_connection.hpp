#pragma once
// A private connection to the system bus: calls that wait for their reply, the bus daemon's own
// methods, the receivers of incoming messages and the pump that feeds them.
#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dbus/bus_error.hpp"
#include "dbus/message.hpp"
#include "dbus/names.hpp"

// libdbus's own type, named the way its typedef names it; only dbus/ sees its definition.
struct DBusConnection;

namespace dbus {

// Where a method call goes.
struct MethodTarget {
  BusName destination;
  BusPath path;
};

// The arguments of a call, appended in order.
using CallArg = std::variant<std::string, std::int32_t, std::uint32_t>;

// RequestName's flags (or-ed together) and the daemon's answers, as libdbus numbers them
// (bus_connection.cpp checks each against libdbus's header).
namespace name_flag {
inline constexpr std::uint32_t replace_existing = 0x2;
inline constexpr std::uint32_t do_not_queue = 0x4;
}  // namespace name_flag
namespace name_reply {
inline constexpr std::uint32_t primary_owner = 1;
inline constexpr std::uint32_t in_queue = 2;
inline constexpr std::uint32_t exists = 3;
inline constexpr std::uint32_t already_owner = 4;
}  // namespace name_reply

using ReceiverToken = std::uint64_t;

// A call given up on because the caller's own descriptor became readable first.
struct CallStopped {};

// The bus daemon's own name, the sender of its replies.
inline constexpr std::string_view bus_daemon_name = "org.freedesktop.DBus";

// What a receiver takes, or what the bus daemon is asked to route here. Unset fields match
// anything.
struct MatchRule {
  std::optional<MessageType> type = std::nullopt;
  std::optional<std::string> sender = std::nullopt, path = std::nullopt, interface = std::nullopt,
                             member = std::nullopt;
  // The first argument, a string equal to this: NameOwnerChanged of one name among all of them.
  std::optional<std::string> arg0 = std::nullopt;
  // Compares the header fields as they came: a sender is a unique name there (but for the bus
  // daemon's own messages, sent as org.freedesktop.DBus), so a receiver's rule names no other
  // well-known sender.
  bool matches(const Message& message) const noexcept;
  // The rule as AddMatch takes it ("type='signal',sender='com.example',..."), set fields only.
  // The daemon resolves a well-known sender to its current owner.
  std::string text() const;
};

class BusConnection;
// Takes over the message; true keeps the receiver registered, false discards it.
using Receiver = std::function<bool(Message message, BusConnection& connection)>;

class BusConnection {
 public:
  // A new private connection with exit-on-disconnect off. BLOCKS while connecting.
  static std::expected<BusConnection, BusError> open_system_bus();
  // The same to the bus daemon at `address` ("unix:path=..."), for a bus that is not the
  // system bus. BLOCKS while connecting and saying Hello (up to 25 s for the daemon's answer).
  static std::expected<BusConnection, BusError> open(std::string_view address);
  // The system bus (DBUS_SYSTEM_BUS_ADDRESS, or the usual socket) with the greeting bounded:
  // BLOCKS while connecting (a local socket connects at once unless the daemon's queue of new
  // connections is full), then up to `timeout` for the authentication and the daemon's answer
  // to Hello together.
  static std::expected<BusConnection, BusError> open_system_bus(std::chrono::milliseconds timeout);

  BusConnection(BusConnection&& other) noexcept;
  BusConnection& operator=(BusConnection&& other) noexcept;
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;
  ~BusConnection();  // close, then unref, then drop the receivers

  // One method call. BLOCKS until its reply, an error reply, `timeout` or the loss of the
  // connection; messages arriving meanwhile stay queued for the pump. The reply is the caller's.
  std::expected<Message, BusError> call(const MethodTarget& target, const InterfaceName& interface,
                                        const MemberName& member, const std::vector<CallArg>& args,
                                        std::chrono::milliseconds timeout) const;
  // The same for a call the caller built (one with container arguments, say). BLOCKS alike.
  std::expected<Message, BusError> call(const Message& request, std::chrono::milliseconds timeout) const;
  // call() that gives up when `stop` (a signalfd, a pipe) is readable first: the request is
  // sent, its outcome unknown. Its time running out is NoReply, the connection's loss
  // Disconnected. BLOCKS until the reply, `timeout`, `stop` or the loss of the connection.
  std::expected<Message, std::variant<BusError, CallStopped>> call_until_readable(const Message& request,
                                                                                  std::chrono::milliseconds timeout,
                                                                                  int stop);
  // call() to a method of the bus daemon itself. BLOCKS up to `timeout`.
  std::expected<Message, BusError> call_daemon(const MemberName& member, const std::vector<CallArg>& args,
                                               std::chrono::milliseconds timeout) const;

  // RequestName with `flags` (name_flag): the daemon's answer as it came (name_reply, or 1 to 4
  // in general); which answers count as owning is the caller's business. BLOCKS up to 5000 ms.
  std::expected<std::uint32_t, BusError> request_name(const BusName& name, std::uint32_t flags) const;
  // GetNameOwner: the unique name that owns `name`, or nothing when nobody does. BLOCKS up to
  // `timeout`.
  std::expected<std::optional<std::string>, BusError> name_owner(const BusName& name,
                                                                 std::chrono::milliseconds timeout) const;
  // GetConnectionUnixUser: the uid behind the unique name `sender`, as the daemon vouches for
  // it. BLOCKS up to `timeout`.
  std::expected<std::uint32_t, BusError> unix_user(std::string_view sender, std::chrono::milliseconds timeout) const;
  // GetConnectionUnixUser without waiting: the question's serial, or 0 when it could not be
  // queued. The daemon's reply comes through the pump like any message, from bus_daemon_name
  // and with that reply_serial; unix_user_answer reads it.
  std::uint32_t ask_unix_user(std::string_view sender) noexcept;
  // AddMatch: from now on the daemon routes here the messages `rule` names, signals sent to
  // others included. They reach a receiver only through add_receiver. BLOCKS up to `timeout`.
  std::expected<void, BusError> add_match(const MatchRule& rule,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // This connection's unique name (":1.42"); empty once it is closed.
  std::string_view unique_name() const noexcept;

  ReceiverToken add_receiver(MatchRule rule, Receiver receiver);

  // One pump step: pop a message, or read/write for at most `timeout` and pop again; hand it to
  // the first matching receiver or answer it with default_reply. BLOCKS up to `timeout`.
  std::expected<void, BusError> process_one(std::chrono::milliseconds timeout);
  // When the message that process_one is handing to a receiver now was read off the socket:
  // every message a read brings is taken from libdbus at once and stamped then, so a deadline
  // counted from it includes the time the message waited behind others.
  std::chrono::steady_clock::time_point received_at() const noexcept { return received_at_; }

  // For a loop that waits on the connection together with other descriptors: the socket, and
  // whether a message is already queued (then waiting would delay it) or output is pending.
  int unix_fd() const noexcept;
  bool has_queued_messages() const noexcept;
  bool has_messages_to_send() const noexcept;

  // Queues a reply or signal; failures are ignored. The caller keeps its reference.
  void send(const Message& message) noexcept;

 private:
  explicit BusConnection(DBusConnection* connection) noexcept : connection_(connection) {}
  void close() noexcept;
  // Hello, and the unique name it gives recorded as libdbus's own registration would. BLOCKS
  // up to `timeout`, the authentication included.
  std::expected<void, BusError> greet(std::chrono::milliseconds timeout);
  // The reply to the call with `serial`, once parsed; every other message stays queued.
  std::optional<Message> take_reply(std::uint32_t serial);
  // A daemon method whose answer is one UINT32. BLOCKS up to `timeout`.
  std::expected<std::uint32_t, BusError> daemon_number(const MemberName& member, const std::vector<CallArg>& args,
                                                       std::chrono::milliseconds timeout) const;

  struct Registration {
    MatchRule rule;
    Receiver receiver;
  };
  struct Received {
    Message message;
    std::chrono::steady_clock::time_point at;
  };
  // Takes every message libdbus has parsed into the queue, stamped `at`.
  void take_parsed(std::chrono::steady_clock::time_point at);

  DBusConnection* connection_ = nullptr;
  std::map<ReceiverToken, Registration> receivers_;
  ReceiverToken next_token_ = 1;
  std::deque<Received> received_;
  std::chrono::steady_clock::time_point received_at_{};
};

// The uid in the daemon's reply to ask_unix_user, or the error it answered with.
std::expected<std::uint32_t, BusError> unix_user_answer(const Message& reply);

// What a RequestName answer means to a service that may wait in the queue: 1 to 4 (primary
// owner, in queue, exists, already owner) are success, whichever it was; anything else is
// "Invalid reply from DBus server".
std::expected<void, BusError> check_request_name_reply(std::uint32_t reply);

// The pump's answer to a message no receiver took: Peer Ping/GetMachineId, an error, or nothing.
std::optional<Message> default_reply(const Message& message);

// Frees libdbus's process-wide caches. Only at exit, once every connection, message and error
// is gone, so that leak checkers see a clean exit.
void shutdown() noexcept;

}  // namespace dbus
