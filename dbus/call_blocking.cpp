#include "dbus/call_blocking.hpp"

#include <algorithm>
#include <climits>
#include <type_traits>

#include "dbus/fatal.hpp"
#include "dbus/message_writer.hpp"

namespace dbus {
namespace {

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
int timeout_ms(std::chrono::nanoseconds timeout) noexcept {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(ms, 0, INT_MAX));
}

}  // namespace

std::expected<Message, BusError> call_blocking(const MethodTarget& target, const InterfaceName& interface,
                                               const MemberName& member, const std::vector<CallArg>& args) {
  ensure_library_initialised();
  Message request = Message::method_call(target.destination, target.path, interface, member);
  MessageWriter writer(request);
  for (const CallArg& arg : args) append(writer, arg);

  DBusError record;
  dbus_error_init(&record);
  // BLOCKS until the reply, an error reply, the timeout or the loss of the connection.
  DBusMessage* reply =
      dbus_connection_send_with_reply_and_block(target.connection, request.get(), timeout_ms(target.timeout), &record);
  request = Message();
  if (reply == nullptr) return std::unexpected(BusError::adopt(record));
  dbus_error_free(&record);
  return Message::adopt(reply);
}

}  // namespace dbus
