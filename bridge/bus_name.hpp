#pragma once
// Taking the bridge's well-known name, as its only owner.
#include <expected>

#include "dbus/bus_connection.hpp"
#include "dbus/names.hpp"

namespace bridge {

// RequestName without queueing: anything but primary ownership is a refusal, because a queued
// bridge would sit silently behind another process that answers for the radio.
// BLOCKS up to 5 s.
std::expected<void, std::string> own_name(dbus::BusConnection& connection, const dbus::BusName& name);

}  // namespace bridge
