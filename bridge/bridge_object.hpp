#pragma once
// The bridge's one published object and its one method, ExecuteHcitool, with the check of who
// may call it.
#include "bridge/bridge_interface.hpp"
#include "bridge/options.hpp"
#include "bridge/power_memory.hpp"
#include "dbus/bus_connection.hpp"
#include "tree/object_tree.hpp"

namespace bridge {

// What every call needs: the command line, the connection the calls arrive on (borrowed; it
// also carries the caller checks, so it must outlive the tree, which attach() guarantees), and
// where accepted commands are remembered for the next power-on (borrowed, outlives the tree).
struct BridgeContext {
  BridgeOptions options;
  const dbus::BusConnection* connection;
  PowerMemory* memory;
};

tree::ObjectTree bridge_tree(BridgeContext context);

}  // namespace bridge
