#pragma once
// The published objects, the dispatch of incoming method calls to their handlers, and the
// connection's receiver that runs it.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbus/bus_connection.hpp"
#include "dbus/message.hpp"
#include "tree/definitions.hpp"

namespace tree {

class ObjectTree {
 public:
  void add_object(TreeObject object);  // under its path
  const NameMap<TreeObject>& objects() const noexcept { return objects_; }

  // Replies to send for one incoming message; nothing for non-calls and unknown paths.
  std::optional<std::vector<dbus::Message>> handle_call(const dbus::Message& message) const;

 private:
  NameMap<TreeObject> objects_;  // byte order of the path
};

// Insert or replace the interface; an interface with a property also brings Properties.
void add_interface(TreeObject& object, InterfaceDef interface);
// Adds org.freedesktop.DBus.Introspectable.
void add_introspectable(TreeObject& object);

// A standard interface's definition, built by `build` the first time `name` is asked for and
// then handed to every object that carries it. Takes a lock; meant for building trees, never
// for dispatch.
std::shared_ptr<const InterfaceDef> shared_interface(std::string_view name, const std::function<InterfaceDef()>& build);

// Moves the tree into the connection's one receiver of every method call.
void attach(ObjectTree tree, dbus::BusConnection& connection);

}  // namespace tree
