#include <dbus/dbus.h>

#include "dbus/bus_connection.hpp"
#include "dbus/message_writer.hpp"

namespace dbus {
namespace {

constexpr std::string_view kPeerInterface = "org.freedesktop.DBus.Peer";
constexpr std::string_view kUnknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
constexpr std::string_view kFailed = "org.freedesktop.DBus.Error.Failed";

Message machine_id_reply(const Message& message) {
  Message reply = Message::method_return(message);
  char* machine_id = dbus_get_local_machine_id();
  if (machine_id == nullptr) {
    return Message::error_reply(message, ErrorName::from_constant(kFailed), "Failed to retreive UUID");
  }
  append_one_string(reply, machine_id);
  dbus_free(machine_id);
  return reply;
}

}  // namespace

std::optional<Message> default_reply(const Message& message) {
  if (message.interface() != kPeerInterface) {
    if (message.type() != MessageType::method_call) return std::nullopt;
    return Message::error_reply(message, ErrorName::from_constant(kUnknownMethod),
                                "Path, Interface, or Method does not exist");
  }
  // Peer is answered whatever the message type, a signal included.
  const auto member = message.member();
  if (member == "Ping") return Message::method_return(message);
  if (member == "GetMachineId") return machine_id_reply(message);
  return Message::error_reply(message, ErrorName::from_constant(kUnknownMethod), "Method does not exist");
}

}  // namespace dbus
