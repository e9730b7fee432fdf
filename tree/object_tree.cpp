// Building the tree, finding the handler of one incoming method call, and handing the finished
// tree to a bus connection as its receiver of method calls.
#include "tree/object_tree.hpp"

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "dbus/fatal.hpp"
#include "tree/introspection.hpp"
#include "tree/method_errors.hpp"
#include "tree/properties.hpp"

namespace tree {
namespace {

// The interface header, else the object's default interface; null when neither names one it has.
const InterfaceDef* select_interface(const dbus::Message& message, const TreeObject& object) {
  std::string_view name;
  if (auto header = message.interface()) {
    name = *header;
  } else if (object.default_interface) {
    name = object.default_interface->view();
  } else {
    return nullptr;
  }
  auto found = object.interfaces.find(name);
  return found == object.interfaces.end() ? nullptr : found->second.get();
}

HandlerResult run_method(const dbus::Message& message, const TreeObject& object, const ObjectTree& tree) {
  const InterfaceDef* interface = select_interface(message, object);
  if (interface == nullptr) return std::unexpected(unknown_interface({}));

  auto member = message.member();
  if (!member) return std::unexpected(unknown_method());
  auto method = interface->methods.find(*member);
  if (method == interface->methods.end()) return std::unexpected(unknown_method());
  if (!method->second.handler) dbus::fatal("Method " + method->first + " was registered without a handler");

  const MethodContext context{message, object, *interface, method->second, tree};
  return method->second.handler(context);
}

}  // namespace

void ObjectTree::add_object(TreeObject object) {
  std::string key = object.path.str();
  objects_.insert_or_assign(std::move(key), std::move(object));
}

std::optional<std::vector<dbus::Message>> ObjectTree::handle_call(const dbus::Message& message) const {
  if (message.type() != dbus::MessageType::method_call) return std::nullopt;
  // Calls to paths we do not publish get no answer at all, not even an error.
  auto path = message.path();
  if (!path) return std::nullopt;
  auto object = objects_.find(*path);
  if (object == objects_.end()) return std::nullopt;

  HandlerResult outcome = run_method(message, object->second, *this);
  if (outcome) return std::move(*outcome);
  std::vector<dbus::Message> reply;
  reply.push_back(dbus::Message::error_reply(message, outcome.error().name, outcome.error().message));
  return reply;
}

void add_interface(TreeObject& object, InterfaceDef interface) {
  const bool has_properties = !interface.properties.empty();
  std::string key = interface.name.str();
  object.interfaces.insert_or_assign(std::move(key), std::make_shared<const InterfaceDef>(std::move(interface)));
  const std::string properties_key(properties_interface_name);
  if (has_properties && !object.interfaces.contains(properties_key)) {
    object.interfaces.emplace(properties_key, properties_interface());
  }
}

void add_introspectable(TreeObject& object) {
  object.interfaces.insert_or_assign(std::string(introspectable_interface_name), introspectable_interface());
}

std::shared_ptr<const InterfaceDef> shared_interface(std::string_view name,
                                                     const std::function<InterfaceDef()>& build) {
  static std::mutex lock;
  static std::map<std::string, std::shared_ptr<const InterfaceDef>, std::less<>> cache;

  std::scoped_lock guard(lock);
  if (auto found = cache.find(name); found != cache.end()) return found->second;
  auto made = std::make_shared<const InterfaceDef>(build());
  cache.emplace(std::string(name), made);
  return made;
}

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
