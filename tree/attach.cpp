// Handing the finished tree to a bus connection as its receiver of method calls.
#include <memory>
#include <utility>

#include "tree/object_tree.hpp"

namespace tree {

void attach(ObjectTree tree, dbus::BusConnection& connection) {
  dbus::MatchRule every_call;
  every_call.type = dbus::MessageType::method_call;
  // Shared so the receiver stays copyable without ever copying the tree and its user data.
  auto shared = std::make_shared<const ObjectTree>(std::move(tree));
  // The incoming message is released when the receiver returns; the receiver always stays.
  connection.add_receiver(std::move(every_call), [shared](dbus::Message incoming, dbus::BusConnection& bus) {
    if (auto replies = shared->handle_call(incoming)) {
      for (const dbus::Message& reply : *replies) bus.send(reply);
    }
    return true;
  });
}

}  // namespace tree
