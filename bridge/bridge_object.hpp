#pragma once
// The bridge's one published object and its one method, ExecuteHcitool.
#include <string_view>

#include <dbus/dbus.h>

#include "bridge/options.hpp"
#include "bridge/power_memory.hpp"
#include "tree/object_tree.hpp"

namespace bridge {

inline constexpr std::string_view bridge_bus_name = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view bridge_path = "/com/orbo/ZozovoZorOrevov";
inline constexpr std::string_view bridge_interface = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view execute_member = "ExecuteHcitool";

// What every call needs: the command line, the connection the calls arrive on (borrowed; it
// also carries the caller checks, so it must outlive the tree, which attach() guarantees), and
// where accepted commands are remembered for the next power-on (borrowed, outlives the tree).
struct BridgeContext {
  BridgeOptions options;
  DBusConnection* connection;
  PowerMemory* memory;
};

tree::ObjectTree bridge_tree(BridgeContext context);

}  // namespace bridge
