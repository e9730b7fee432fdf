#include "bridge/bus_name.hpp"

#include <chrono>
#include <cstdint>
#include <string>

#include "bridge/concat.hpp"
#include "dbus/call_blocking.hpp"
#include "dbus/message_reader.hpp"

namespace bridge {
namespace {

constexpr std::uint32_t do_not_queue = DBUS_NAME_FLAG_DO_NOT_QUEUE;

}  // namespace

std::expected<void, std::string> own_name(dbus::BusConnection& connection, const dbus::BusName& name) {
  const dbus::MethodTarget daemon{
      .destination = dbus::BusName::from_constant("org.freedesktop.DBus"),
      .path = dbus::BusPath::from_constant("/org/freedesktop/DBus"),
      .timeout = std::chrono::seconds(5),
      .connection = connection.raw(),
  };
  const auto refused = [&](std::string_view why) { return std::unexpected(concat("Cannot own ", name.view(), ": ", why)); };

  auto reply = dbus::call_blocking(daemon, dbus::InterfaceName::from_constant("org.freedesktop.DBus"),
                                  dbus::MemberName::from_constant("RequestName"), {name.str(), do_not_queue});
  if (!reply) return refused(reply.error().text());
  dbus::MessageReader reader(*reply);
  auto code = reader.read_uint32();
  if (!code) return refused(code.error().text());
  switch (*code) {
    case DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER:
    case DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER:
      return {};
    case DBUS_REQUEST_NAME_REPLY_EXISTS:
      return refused("another process owns it");
    default:
      return refused(concat("unexpected RequestName reply ", *code));
  }
}

}  // namespace bridge
