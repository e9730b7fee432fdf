#pragma once
// The Range property of com.orbo.Configuration.Legacy. Its handlers keep nothing of their own:
// they reach the RangeService held as the object's data (a std::shared_ptr<RangeService>).
#include <expected>

#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "tree/definitions.hpp"

namespace src {

// The held level, widened to INT32. Never fails.
std::expected<void, tree::MethodError> get_range(dbus::MessageWriter& value, const tree::PropertyContext& context);
// InvalidArgs for a level outside 0 to 30, Failed when the radio refuses it.
std::expected<void, tree::MethodError> set_range(dbus::MessageReader& value, const tree::PropertyContext& context);

// "Range", "i", read-write, announced with PropertiesChanged after every accepted Set, with its
// documentation for the interface document.
tree::PropertyDef range_property();
// com.orbo.Configuration.Legacy: no methods, no signals, the one property; documented.
tree::InterfaceDef legacy_configuration_interface();

}  // namespace src
