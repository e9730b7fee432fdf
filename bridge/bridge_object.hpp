#pragma once
// The bridge's one published object and its one method, ExecuteHcitool.
#include <string_view>

#include <dbus/dbus.h>

#include "bridge/options.hpp"
#include "tree/object_tree.hpp"

namespace bridge {

inline constexpr std::string_view bridge_bus_name = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view bridge_path = "/com/orbo/ZozovoZorOrevov";
inline constexpr std::string_view bridge_interface = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view execute_member = "ExecuteHcitool";

// What every call needs: the command line, and the connection the calls arrive on (borrowed; it
// also carries the caller checks, so it must outlive the tree, which attach() guarantees).
struct BridgeContext {
  BridgeOptions options;
  DBusConnection* connection;
};

tree::ObjectTree bridge_tree(BridgeContext context);

}  // namespace bridge
