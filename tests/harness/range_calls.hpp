#pragma once
// Calls to the range service's object, built as a client sends them (destination `to`, by default
// the service's well-known name), and the change signal it sends, in the describer's words.
#include <cstdint>
#include <string>
#include <vector>

#include "dbus/message.hpp"
#include "tests/harness/message_builder.hpp"

namespace harness {

// Spelled out rather than taken from contract/: clients depend on these names as they are.
inline const std::string range_service = "com.orbo.RIDEviva";

// A call to the service's object with any interface header (empty: none), member and arguments,
// well-formed or not; the shape, for a test that changes more of it.
Shape range_call(std::string interface, std::string member, std::vector<Arg> arguments = {},
                 const std::string& to = range_service);
// org.freedesktop.DBus.Properties.<member>, built.
dbus::Message properties_call(std::string member, std::vector<Arg> arguments, const std::string& to = range_service);
dbus::Message get_range(const std::string& to = range_service);
dbus::Message get_all(const std::string& to = range_service);
dbus::Message set_range(std::int32_t level, const std::string& to = range_service);
dbus::Message introspect(const std::string& to = range_service);

// The service's answers while it holds `level`, as the describer writes them; every tier takes
// them from here, so that a property added to the interface changes one place.
// GetAll of com.orbo.Configuration.Legacy.
std::string all_properties(std::int32_t level);
// The same as gdbus prints it: "({'Range': <7>},)".
std::string all_properties_as_gdbus_prints(std::int32_t level);
// PropertiesChanged for a new level, as the service's object sends it.
std::string range_changed(std::int32_t level);

}  // namespace harness
