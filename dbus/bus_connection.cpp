#include "dbus/bus_connection.hpp"

#include <chrono>
#include <utility>

#include "dbus/call_blocking.hpp"
#include "dbus/fatal.hpp"
#include "dbus/message_reader.hpp"

namespace dbus {
namespace {

constexpr std::string_view kDisconnected = "Failed to read/write data, disconnected from D-Bus?";

}  // namespace

std::expected<BusConnection, BusError> BusConnection::open_system_bus() {
  ensure_library_initialised();
  DBusError record;
  dbus_error_init(&record);
  // BLOCKS while connecting, authenticating and saying Hello to the bus daemon.
  DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SYSTEM, &record);
  if (connection == nullptr) return std::unexpected(BusError::adopt(record));
  // Losing the bus is reported by process_one; libdbus must not end the process by itself.
  dbus_connection_set_exit_on_disconnect(connection, false);
  dbus_error_free(&record);
  return BusConnection(connection);
}

BusConnection::BusConnection(BusConnection&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      receivers_(std::move(other.receivers_)),
      next_token_(other.next_token_) {
  other.receivers_.clear();
}

BusConnection& BusConnection::operator=(BusConnection&& other) noexcept {
  if (this != &other) {
    close();
    connection_ = std::exchange(other.connection_, nullptr);
    receivers_ = std::move(other.receivers_);
    other.receivers_.clear();
    next_token_ = other.next_token_;
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
}

std::expected<void, BusError> BusConnection::request_name(const BusName& name, std::uint32_t flags) {
  if (connection_ == nullptr) return std::unexpected(BusError::failed(kDisconnected));
  const MethodTarget daemon{BusName::from_constant(DBUS_SERVICE_DBUS), BusPath::from_constant(DBUS_PATH_DBUS),
                            std::chrono::seconds(5), connection_};
  // BLOCKS up to the target's timeout.
  auto reply = call_blocking(daemon, InterfaceName::from_constant(DBUS_INTERFACE_DBUS),
                             MemberName::from_constant("RequestName"), {name.str(), flags});
  if (!reply) return std::unexpected(std::move(reply.error()));
  const auto answer = MessageReader(*reply).read_uint32();
  *reply = Message();
  if (!answer) return std::unexpected(BusError::from(answer.error()));
  return check_request_name_reply(*answer);
}

std::expected<void, BusError> check_request_name_reply(std::uint32_t reply) {
  // The four answers are numbered 1 (primary owner) to 4 (already owner) without a gap.
  if (reply < DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER || reply > DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER) {
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
  return connection_ != nullptr && dbus_connection_get_dispatch_status(connection_) == DBUS_DISPATCH_DATA_REMAINS;
}

bool BusConnection::has_messages_to_send() const noexcept {
  return connection_ != nullptr && dbus_connection_has_messages_to_send(connection_);
}

std::expected<void, BusError> BusConnection::process_one(int timeout_ms) {
  if (connection_ == nullptr) return std::unexpected(BusError::failed(kDisconnected));
  Message message = Message::adopt(dbus_connection_pop_message(connection_));
  if (!message) {
    // BLOCKS up to timeout_ms; read only once the queue is empty, so queued messages go first.
    if (!dbus_connection_read_write(connection_, timeout_ms)) {
      return std::unexpected(BusError::failed(kDisconnected));
    }
    message = Message::adopt(dbus_connection_pop_message(connection_));
    if (!message) return {};
  }

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
  (void)dbus_connection_send(connection_, message.get(), &serial);
}

}  // namespace dbus
