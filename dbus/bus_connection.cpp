#include "dbus/bus_connection.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "dbus/error_record.hpp"
#include "dbus/fatal.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/raw_message.hpp"

namespace dbus {

static_assert(name_flag::replace_existing == DBUS_NAME_FLAG_REPLACE_EXISTING);
static_assert(name_flag::do_not_queue == DBUS_NAME_FLAG_DO_NOT_QUEUE);
static_assert(name_reply::primary_owner == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER);
static_assert(name_reply::in_queue == DBUS_REQUEST_NAME_REPLY_IN_QUEUE);
static_assert(name_reply::exists == DBUS_REQUEST_NAME_REPLY_EXISTS);
static_assert(name_reply::already_owner == DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER);

namespace {

constexpr std::string_view disconnected_message = "Failed to read/write data, disconnected from D-Bus?";
// The daemon answers its own methods at once; this only bounds a daemon in trouble.
constexpr std::chrono::seconds daemon_timeout{5};

void append(MessageWriter& writer, const CallArg& arg) {
  std::visit(
      [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::string>) {
          writer.append_string(value);
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          writer.append_int32(value);
        } else {
          writer.append_uint32(value);
        }
      },
      arg);
}

// libdbus takes whole milliseconds in an int; anything longer than that waits as long as it can.
int timeout_ms(std::chrono::milliseconds timeout) noexcept {
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX));
}

// libdbus's own choice when DBUS_SYSTEM_BUS_ADDRESS is not set.
constexpr const char* default_system_bus_address = "unix:path=/run/dbus/system_bus_socket";

// Whole milliseconds left until `deadline`, rounded up so that a wait never ends early.
int milliseconds_until(std::chrono::steady_clock::time_point deadline) noexcept {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return timeout_ms(left);
}

// `timeout` from now, or the end of time for one too long to add.
std::chrono::steady_clock::time_point deadline_after(std::chrono::milliseconds timeout) noexcept {
  const auto now = std::chrono::steady_clock::now();
  if (timeout >=
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::time_point::max() - now))
    return std::chrono::steady_clock::time_point::max();
  return now + timeout;
}

const MethodTarget& bus_daemon() {
  static const MethodTarget daemon{BusName::from_constant(DBUS_SERVICE_DBUS), BusPath::from_constant(DBUS_PATH_DBUS)};
  return daemon;
}

using HeaderField = std::optional<std::string_view> (Message::*)() const noexcept;

// An unset criterion matches anything; a set one needs the header field present and equal.
// The field is read only for a set criterion: each read is a libdbus header look-up.
bool field_matches(const std::optional<std::string>& wanted, const Message& message, HeaderField field) noexcept {
  if (!wanted) return true;
  const auto found = (message.*field)();
  return found && *found == *wanted;
}

// Read only for a set criterion, as above; a first argument that is no string never matches.
bool first_argument_matches(const std::optional<std::string>& wanted, const Message& message) noexcept {
  if (!wanted) return true;
  MessageReader reader(message);
  const auto first = reader.read_string_view();
  return first && *first == *wanted;
}

Message machine_id_reply(const Message& message) {
  Message reply = Message::method_return(message);
  char* machine_id = dbus_get_local_machine_id();
  if (machine_id == nullptr) {
    return Message::error_reply(message, standard_error::failed(), "Failed to retreive UUID");
  }
  append_one_string(reply, machine_id);
  dbus_free(machine_id);
  return reply;
}

}  // namespace

std::expected<BusConnection, BusError> BusConnection::open_system_bus() {
  ensure_library_initialised();
  ErrorRecord record;
  // BLOCKS while connecting, authenticating and saying Hello to the bus daemon.
  DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SYSTEM, record.out());
  if (connection == nullptr) return std::unexpected(record.take());
  // Losing the bus is reported by process_one; libdbus must not end the process by itself.
  dbus_connection_set_exit_on_disconnect(connection, false);
  return BusConnection(connection);
}

std::expected<BusConnection, BusError> BusConnection::open(std::string_view address) {
  ensure_library_initialised();
  ErrorRecord record;
  // BLOCKS while connecting and authenticating.
  DBusConnection* raw = dbus_connection_open_private(std::string(address).c_str(), record.out());
  if (raw == nullptr) return std::unexpected(record.take());
  dbus_connection_set_exit_on_disconnect(raw, false);
  BusConnection connection(raw);  // closes it again on the failure below
  // BLOCKS while saying Hello to the bus daemon, up to libdbus's default of 25 s.
  if (!dbus_bus_register(raw, record.out())) return std::unexpected(record.take());
  return connection;
}

std::expected<BusConnection, BusError> BusConnection::open_system_bus(std::chrono::milliseconds timeout) {
  ensure_library_initialised();
  // As libdbus takes it: not from the environment of a program running with raised privileges.
  const char* address = ::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS");
  ErrorRecord record;
  // BLOCKS in connect() only; the authentication waits for the first call, Hello.
  DBusConnection* raw =
      dbus_connection_open_private(address != nullptr ? address : default_system_bus_address, record.out());
  if (raw == nullptr) return std::unexpected(record.take());
  dbus_connection_set_exit_on_disconnect(raw, false);
  BusConnection connection(raw);  // closes it again on the failure below
  if (auto greeted = connection.greet(timeout); !greeted) return std::unexpected(std::move(greeted.error()));
  return connection;
}

std::expected<void, BusError> BusConnection::greet(std::chrono::milliseconds timeout) {
  static const InterfaceName interface = InterfaceName::from_constant(DBUS_INTERFACE_DBUS);
  static const MemberName member = MemberName::from_constant("Hello");
  const Message hello = Message::method_call(bus_daemon().destination, bus_daemon().path, interface, member);
  // Waited for by polling the socket ourselves: libdbus's own blocking call waits without
  // limit while the authentication has not ended. No stop descriptor (poll skips -1).
  auto reply = call_until_readable(hello, timeout, -1);  // BLOCKS up to `timeout`
  if (!reply) return std::unexpected(std::move(std::get<BusError>(reply.error())));
  auto name = MessageReader(*reply).read_string();
  if (!name) return std::unexpected(BusError::from(name.error()));
  if (!dbus_bus_set_unique_name(connection_, name->c_str())) {
    return std::unexpected(BusError::failed("Not enough memory"));
  }
  return {};
}

BusConnection::BusConnection(BusConnection&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      receivers_(std::move(other.receivers_)),
      next_token_(other.next_token_),
      received_(std::move(other.received_)),
      received_at_(other.received_at_) {
  other.receivers_.clear();
  other.received_.clear();
}

BusConnection& BusConnection::operator=(BusConnection&& other) noexcept {
  if (this != &other) {
    close();
    connection_ = std::exchange(other.connection_, nullptr);
    receivers_ = std::move(other.receivers_);
    other.receivers_.clear();
    next_token_ = other.next_token_;
    received_ = std::move(other.received_);
    other.received_.clear();
    received_at_ = other.received_at_;
  }
  return *this;
}

BusConnection::~BusConnection() { close(); }

void BusConnection::close() noexcept {
  if (connection_ != nullptr) {
    // A private connection must be closed before its last reference goes.
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
    connection_ = nullptr;
  }
  receivers_.clear();
  received_.clear();
}

std::expected<Message, BusError> BusConnection::call(const MethodTarget& target, const InterfaceName& interface,
                                                     const MemberName& member, const std::vector<CallArg>& args,
                                                     std::chrono::milliseconds timeout) const {
  if (connection_ == nullptr) return std::unexpected(BusError::failed(disconnected_message));
  Message request = Message::method_call(target.destination, target.path, interface, member);
  MessageWriter writer(request);
  for (const CallArg& arg : args) append(writer, arg);
  return call(request, timeout);  // BLOCKS up to `timeout`
}

std::expected<Message, BusError> BusConnection::call(const Message& request, std::chrono::milliseconds timeout) const {
  if (connection_ == nullptr) return std::unexpected(BusError::failed(disconnected_message));
  ErrorRecord record;
  // BLOCKS until the reply, an error reply, the timeout or the loss of the connection.
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection_, RawMessage::get(request),
                                                                 timeout_ms(timeout), record.out());
  if (reply == nullptr) return std::unexpected(record.take());
  return RawMessage::adopt(reply);
}

std::optional<Message> BusConnection::take_reply(std::uint32_t serial) {
  take_parsed(std::chrono::steady_clock::now());
  const auto reply = std::ranges::find_if(received_, [serial](const Received& received) {
    const MessageType type = received.message.type();
    return (type == MessageType::method_return || type == MessageType::error) &&
           received.message.reply_serial() == serial;
  });
  if (reply == received_.end()) return std::nullopt;
  Message message = std::move(reply->message);
  received_.erase(reply);
  return message;
}

std::expected<Message, std::variant<BusError, CallStopped>> BusConnection::call_until_readable(
    const Message& request, std::chrono::milliseconds timeout, int stop) {
  using Failure = std::variant<BusError, CallStopped>;
  const auto lost = [] {
    return std::unexpected(Failure(BusError::custom(standard_error::disconnected(), disconnected_message)));
  };
  if (connection_ == nullptr) return lost();
  dbus_uint32_t serial = 0;
  if (!dbus_connection_send(connection_, RawMessage::get(request), &serial)) {
    return std::unexpected(Failure(BusError::failed("Not enough memory")));
  }
  const auto deadline = deadline_after(timeout);
  for (;;) {
    // Writes what is queued and reads what has come, without waiting. While authenticating,
    // libdbus writes its answer to a line only in the step after the one that read it, so that
    // step is taken at once.
    if (!dbus_connection_read_write(connection_, 0)) return lost();
    if (!dbus_connection_get_is_authenticated(connection_) && !dbus_connection_read_write(connection_, 0)) {
      return lost();
    }
    if (auto reply = take_reply(serial)) {
      if (reply->type() == MessageType::method_return) return std::move(*reply);
      ErrorRecord record;
      dbus_set_error_from_message(record.out(), RawMessage::get(*reply));
      return std::unexpected(Failure(record.take()));
    }
    const int left = milliseconds_until(deadline);
    if (left == 0) {
      return std::unexpected(Failure(BusError::custom(
          standard_error::no_reply(), "Did not receive a reply within " + std::to_string(timeout.count()) + " ms")));
    }
    // Until the daemon has authenticated us, queued messages cannot go, so the socket being
    // writable says nothing; and a line that came between the two steps above is answered by
    // neither, while libdbus does not tell that it has one to write. So the daemon's next line
    // is waited for, and the next step taken after at most 10 ms all the same.
    const bool authenticated = dbus_connection_get_is_authenticated(connection_);
    const bool writing = authenticated && has_messages_to_send();
    const auto bus_events = static_cast<short>(POLLIN | (writing ? POLLOUT : 0));
    pollfd ready[2] = {{stop, POLLIN, 0}, {unix_fd(), bus_events, 0}};
    constexpr int authentication_step = 10;
    // BLOCKS up to the time left, or 10 ms while authenticating.
    if (::poll(ready, 2, authenticated ? left : std::min(left, authentication_step)) < 0 && errno != EINTR) {
      return std::unexpected(Failure(BusError::failed(std::string("poll: ") + std::strerror(errno))));
    }
    if (ready[0].revents != 0) return std::unexpected(Failure(CallStopped{}));
  }
}

std::expected<Message, BusError> BusConnection::call_daemon(const MemberName& member, const std::vector<CallArg>& args,
                                                            std::chrono::milliseconds timeout) const {
  static const InterfaceName interface = InterfaceName::from_constant(DBUS_INTERFACE_DBUS);
  return call(bus_daemon(), interface, member, args, timeout);  // BLOCKS up to `timeout`
}

std::expected<std::uint32_t, BusError> BusConnection::daemon_number(const MemberName& member,
                                                                    const std::vector<CallArg>& args,
                                                                    std::chrono::milliseconds timeout) const {
  auto reply = call_daemon(member, args, timeout);  // BLOCKS up to `timeout`
  if (!reply) return std::unexpected(std::move(reply.error()));
  const auto number = MessageReader(*reply).read_uint32();
  if (!number) return std::unexpected(BusError::from(number.error()));
  return *number;
}

std::expected<std::uint32_t, BusError> BusConnection::request_name(const BusName& name, std::uint32_t flags) const {
  static const MemberName member = MemberName::from_constant("RequestName");
  return daemon_number(member, {name.str(), flags}, daemon_timeout);  // BLOCKS up to 5 s
}

std::expected<std::optional<std::string>, BusError> BusConnection::name_owner(const BusName& name,
                                                                              std::chrono::milliseconds timeout) const {
  static const MemberName member = MemberName::from_constant("GetNameOwner");
  auto reply = call_daemon(member, {name.str()}, timeout);  // BLOCKS up to `timeout`
  if (!reply && (reply.error().name() == standard_error::name_has_no_owner().view() ||
                 reply.error().name() == standard_error::service_unknown().view()))
    return std::nullopt;
  if (!reply) return std::unexpected(std::move(reply.error()));
  auto owner = MessageReader(*reply).read_string();
  if (!owner) return std::unexpected(BusError::from(owner.error()));
  return std::optional(std::move(*owner));
}

std::expected<std::uint32_t, BusError> BusConnection::unix_user(std::string_view sender,
                                                                std::chrono::milliseconds timeout) const {
  static const MemberName member = MemberName::from_constant("GetConnectionUnixUser");
  return daemon_number(member, {std::string(sender)}, timeout);  // BLOCKS up to `timeout`
}

std::uint32_t BusConnection::ask_unix_user(std::string_view sender) noexcept {
  if (connection_ == nullptr) return 0;
  static const InterfaceName interface = InterfaceName::from_constant(DBUS_INTERFACE_DBUS);
  static const MemberName member = MemberName::from_constant("GetConnectionUnixUser");
  Message question = Message::method_call(bus_daemon().destination, bus_daemon().path, interface, member);
  MessageWriter(question).append_string(sender);
  dbus_uint32_t serial = 0;
  if (!dbus_connection_send(connection_, RawMessage::get(question), &serial)) return 0;
  return serial;
}

std::expected<std::uint32_t, BusError> unix_user_answer(const Message& reply) {
  if (reply.type() == MessageType::error) {
    ErrorRecord record;
    dbus_set_error_from_message(record.out(), RawMessage::get(reply));
    return std::unexpected(record.take());
  }
  const auto uid = MessageReader(reply).read_uint32();
  if (!uid) return std::unexpected(BusError::from(uid.error()));
  return *uid;
}

std::expected<void, BusError> BusConnection::add_match(const MatchRule& rule, std::chrono::milliseconds timeout) const {
  static const MemberName member = MemberName::from_constant("AddMatch");
  auto reply = call_daemon(member, {rule.text()}, timeout);  // BLOCKS up to `timeout`
  if (!reply) return std::unexpected(std::move(reply.error()));
  return {};
}

std::string_view BusConnection::unique_name() const noexcept {
  const char* name = connection_ != nullptr ? dbus_bus_get_unique_name(connection_) : nullptr;
  return name != nullptr ? std::string_view(name) : std::string_view();
}

std::expected<void, BusError> check_request_name_reply(std::uint32_t reply) {
  // The four answers are numbered 1 (primary owner) to 4 (already owner) without a gap.
  if (reply < name_reply::primary_owner || reply > name_reply::already_owner) {
    return std::unexpected(BusError::failed("Invalid reply from DBus server"));
  }
  return {};
}

ReceiverToken BusConnection::add_receiver(MatchRule rule, Receiver receiver) {
  const ReceiverToken token = next_token_++;
  receivers_.emplace(token, Registration{std::move(rule), std::move(receiver)});
  return token;
}

int BusConnection::unix_fd() const noexcept {
  int fd = -1;
  if (connection_ == nullptr || !dbus_connection_get_unix_fd(connection_, &fd)) return -1;
  return fd;
}

bool BusConnection::has_queued_messages() const noexcept {
  return connection_ != nullptr &&
         (!received_.empty() || dbus_connection_get_dispatch_status(connection_) == DBUS_DISPATCH_DATA_REMAINS);
}

bool BusConnection::has_messages_to_send() const noexcept {
  return connection_ != nullptr && dbus_connection_has_messages_to_send(connection_);
}

void BusConnection::take_parsed(std::chrono::steady_clock::time_point at) {
  // A blocking call may have read messages since the last step; they are stamped when found.
  while (Message message = RawMessage::adopt(dbus_connection_pop_message(connection_)))
    received_.push_back({std::move(message), at});
}

std::expected<void, BusError> BusConnection::process_one(std::chrono::milliseconds timeout) {
  if (connection_ == nullptr) return std::unexpected(BusError::failed(disconnected_message));
  if (received_.empty()) take_parsed(std::chrono::steady_clock::now());
  if (received_.empty()) {
    // BLOCKS up to `timeout`; read only once the queue is empty, so queued messages go first.
    if (!dbus_connection_read_write(connection_, timeout_ms(timeout))) {
      return std::unexpected(BusError::failed(disconnected_message));
    }
    take_parsed(std::chrono::steady_clock::now());
    if (received_.empty()) return {};
  }
  Message message = std::move(received_.front().message);
  received_at_ = received_.front().at;
  received_.pop_front();

  auto match = receivers_.begin();
  while (match != receivers_.end() && !match->second.rule.matches(message)) ++match;

  if (match == receivers_.end()) {
    if (auto reply = default_reply(message)) send(*reply);
    return {};
  }
  // Out of the list while it runs, so the handler may use this connection freely. Extracted
  // whole, it goes back under its token without a copy or an allocation.
  auto taken = receivers_.extract(match);
  if (taken.mapped().receiver(std::move(message), *this)) receivers_.insert(std::move(taken));
  return {};
}

void BusConnection::send(const Message& message) noexcept {
  if (connection_ == nullptr || !message) return;
  dbus_uint32_t serial = 0;
  // Only queues; a reply or signal that cannot be queued is dropped without a report.
  (void)dbus_connection_send(connection_, RawMessage::get(message), &serial);
}

bool MatchRule::matches(const Message& message) const noexcept {
  return (!type || message.type() == *type) && field_matches(sender, message, &Message::sender) &&
         field_matches(path, message, &Message::path) && field_matches(interface, message, &Message::interface) &&
         field_matches(member, message, &Message::member) && first_argument_matches(arg0, message);
}

std::string MatchRule::text() const {
  std::string text;
  const auto add = [&](std::string_view key, std::string_view value) {
    if (!text.empty()) text += ',';
    text.append(key).append("='");
    // Inside quotes only the quote itself needs care: it ends the quote, is escaped, and opens
    // a new one.
    for (char c : value) text.append(c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1));
    text += '\'';
  };
  if (type) add("type", dbus_message_type_to_string(static_cast<int>(*type)));
  if (sender) add("sender", *sender);
  if (path) add("path", *path);
  if (interface) add("interface", *interface);
  if (member) add("member", *member);
  if (arg0) add("arg0", *arg0);
  return text;
}

std::optional<Message> default_reply(const Message& message) {
  if (message.interface() != DBUS_INTERFACE_PEER) {
    if (message.type() != MessageType::method_call) return std::nullopt;
    return Message::error_reply(message, standard_error::unknown_method(), "Path, Interface, or Method does not exist");
  }
  // Peer is answered whatever the message type, a signal included.
  const auto member = message.member();
  if (member == "Ping") return Message::method_return(message);
  if (member == "GetMachineId") return machine_id_reply(message);
  return Message::error_reply(message, standard_error::unknown_method(), "Method does not exist");
}

void shutdown() noexcept { dbus_shutdown(); }

}  // namespace dbus
