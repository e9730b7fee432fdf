#include "test_tree.hpp"

#include <utility>

namespace tree_test {
namespace {

using tree::MethodError;
using Done = std::expected<void, MethodError>;

Values& values_of(const tree::PropertyContext& context) { return **context.object().data<std::shared_ptr<Values>>(); }

MethodError test_error(std::string_view name, std::string message) {
  return MethodError{dbus::ErrorName::from_constant(name), std::move(message)};
}

tree::PropertyDef property(std::string name, std::string_view type, tree::PropertyAccess access) {
  auto definition = tree::PropertyDef::named(std::move(name), dbus::Signature::from_constant(type));
  definition.access = access;
  return definition;
}

tree::InterfaceDef things() {
  tree::InterfaceDef definition{dbus::InterfaceName::from_constant("com.test.Things"), {}, {}, {}, {}};

  tree::PropertyDef level = int_property("Level", &Values::level);
  level.setter = [](dbus::MessageReader& value, const tree::PropertyContext& context) -> Done {
    const std::int32_t wanted = *value.read_int32();
    if (wanted < 0) return std::unexpected(test_error("com.test.Error.Refused", "no negative levels"));
    // Stored doubled so a change signal shows what the getter reads, not what the client sent.
    values_of(context).level = wanted * 2;
    return {};
  };
  definition.add_property(std::move(level));

  // Derived from Level: announced with it, after it, each as its own mode says.
  tree::PropertyDef mirror = property("Mirror", "i", tree::PropertyAccess::read);
  mirror.getter = [](dbus::MessageWriter& out, const tree::PropertyContext& context) -> Done {
    out.append_int32(values_of(context).level + 1);
    return {};
  };
  mirror.follows = {"Level"};
  definition.add_property(mirror);
  mirror.name = "Shadow";
  mirror.emits_changed = tree::EmitsChangedMode::invalidates;
  definition.add_property(std::move(mirror));

  tree::PropertyDef cached = int_property("Cached", &Values::cached);
  cached.emits_changed = tree::EmitsChangedMode::invalidates;
  definition.add_property(std::move(cached));

  tree::PropertyDef quiet = int_property("Quiet", &Values::quiet);
  quiet.emits_changed = tree::EmitsChangedMode::none;
  definition.add_property(std::move(quiet));

  tree::PropertyDef silent = int_property("Silent", &Values::silent);
  silent.auto_emit = false;
  definition.add_property(std::move(silent));

  tree::PropertyDef constant = int_property("Constant", &Values::quiet);
  constant.emits_changed = tree::EmitsChangedMode::constant;
  definition.add_property(std::move(constant));

  tree::PropertyDef fixed = property("Fixed", "i", tree::PropertyAccess::read);
  fixed.getter = [](dbus::MessageWriter& out, const tree::PropertyContext&) -> Done {
    out.append_int32(5);
    return {};
  };
  definition.add_property(std::move(fixed));

  tree::PropertyDef secret = property("Secret", "s", tree::PropertyAccess::write);
  secret.setter = [](dbus::MessageReader& value, const tree::PropertyContext& context) -> Done {
    values_of(context).secret = *value.read_string();
    return {};
  };
  definition.add_property(std::move(secret));

  tree::PropertyDef broken = int_property("Broken", &Values::broken);
  broken.getter = [](dbus::MessageWriter&, const tree::PropertyContext&) -> Done {
    return std::unexpected(test_error("com.test.Error.Broken", "getter broke"));
  };
  definition.add_property(std::move(broken));
  return definition;
}

tree::PropertyDef constant_int(std::string name, std::int32_t value) {
  tree::PropertyDef def = property(std::move(name), "i", tree::PropertyAccess::read);
  def.getter = [value](dbus::MessageWriter& out, const tree::PropertyContext&) -> Done {
    out.append_int32(value);
    return {};
  };
  return def;
}

tree::InterfaceDef gauges() {
  tree::InterfaceDef definition{dbus::InterfaceName::from_constant("com.test.Gauges"), {}, {}, {}, {}};
  definition.add_property(constant_int("a", 3));
  definition.add_property(constant_int("B", 1));
  tree::PropertyDef ba = property("Ba", "s", tree::PropertyAccess::read);
  ba.getter = [](dbus::MessageWriter& out, const tree::PropertyContext&) -> Done {
    out.append_string("two");
    return {};
  };
  definition.add_property(std::move(ba));
  tree::PropertyDef hidden = int_property("Hidden", &Values::quiet);
  hidden.access = tree::PropertyAccess::write;
  definition.add_property(std::move(hidden));
  return definition;
}

tree::MethodDef method(std::string_view name, tree::MethodHandler handler) {
  return tree::MethodDef{dbus::MemberName::from_constant(name), std::move(handler), {}, {}, {}};
}

tree::InterfaceDef plain() {
  tree::InterfaceDef definition{dbus::InterfaceName::from_constant("com.test.Plain"), {}, {}, {}, {}};
  definition.add_method(method("Refuse", [](const tree::MethodContext&) -> tree::HandlerResult {
    return std::unexpected(test_error("com.test.Error.Refused", "not today"));
  }));
  definition.add_method(method("Twice", [](const tree::MethodContext& call) -> tree::HandlerResult {
    std::vector<dbus::Message> out;
    out.push_back(dbus::Message::signal(call.object.path, call.interface.name, call.method.name));
    dbus::Message reply = dbus::Message::method_return(call.message);
    dbus::MessageWriter(reply).append_string(call.method.name.view());
    out.push_back(std::move(reply));
    return out;
  }));
  definition.add_method(method("Nothing", [](const tree::MethodContext&) -> tree::HandlerResult { return {}; }));
  return definition;
}

}  // namespace

tree::PropertyDef int_property(std::string name, std::int32_t Values::*slot) {
  tree::PropertyDef def = property(std::move(name), "i", tree::PropertyAccess::readwrite);
  def.getter = [slot](dbus::MessageWriter& out, const tree::PropertyContext& context) -> Done {
    out.append_int32(values_of(context).*slot);
    return {};
  };
  def.setter = [slot](dbus::MessageReader& value, const tree::PropertyContext& context) -> Done {
    values_of(context).*slot = *value.read_int32();
    return {};
  };
  return def;
}

tree::TreeObject test_object(std::shared_ptr<Values> values) {
  tree::TreeObject object{dbus::BusPath::from_constant(object_path), std::nullopt, {}, std::move(values)};
  tree::add_interface(object, things());
  tree::add_interface(object, gauges());
  tree::add_interface(object, plain());
  tree::add_introspectable(object);
  return object;
}

tree::ObjectTree test_tree(std::shared_ptr<Values> values) {
  tree::ObjectTree tree;
  tree.add_object(test_object(std::move(values)));
  return tree;
}

}  // namespace tree_test
