#pragma once
// One method call to another service, waiting for its reply.
#include <dbus/dbus.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <variant>
#include <vector>

#include "dbus/bus_error.hpp"
#include "dbus/message.hpp"
#include "dbus/names.hpp"

namespace dbus {

struct MethodTarget {
  BusName destination;
  BusPath path;
  std::chrono::nanoseconds timeout;
  DBusConnection* connection;  // borrowed from a BusConnection
};

// The arguments of a call, appended in order.
using CallArg = std::variant<std::string, std::int32_t, std::uint32_t>;

// BLOCKS the thread for up to target.timeout. On success the reply belongs to the caller.
std::expected<Message, BusError> call_blocking(const MethodTarget& target, const InterfaceName& interface,
                                               const MemberName& member, const std::vector<CallArg>& args);

}  // namespace dbus
