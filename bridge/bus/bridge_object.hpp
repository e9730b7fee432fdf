#pragma once
// The bridge's one published object and its one method, ExecuteHcitool: who may call it, which
// arguments it takes, and the reply, sent once the call's exchange with the controller is over.
#include "bridge/bus/caller_check.hpp"
#include "bridge/bus/options.hpp"
#include "bridge/schedule/scheduler.hpp"
#include "dbus/bus_connection.hpp"
#include "tree/object_tree.hpp"

namespace bridge {

// What every call needs, all borrowed: the connection the calls arrive on and their replies
// leave by (attach() lets it outlive the tree), the scheduler that carries calls out and the
// caller check. Each must outlive every call the tree takes. A call's time counts from when the
// connection read it, on the steady clock the scheduler must use too.
struct BridgeContext {
  BridgeOptions options;
  dbus::BusConnection* connection;
  Scheduler* scheduler;
  CallerCheck* callers;
};

tree::ObjectTree bridge_tree(BridgeContext context);

}  // namespace bridge
