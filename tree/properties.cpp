// org.freedesktop.DBus.Properties: the three handlers, their checks and the change signal.
#include "tree/properties.hpp"

#include <algorithm>

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/quoted.hpp"
#include "text/utf8.hpp"
#include "tree/method_errors.hpp"
#include "tree/object_tree.hpp"

namespace tree {
namespace {

using dbus::Message;
using dbus::MessageReader;
using dbus::MessageWriter;
// Values written into a reply, or the getter's error.
using Appended = std::expected<void, MethodError>;

const dbus::Signature& dict_entry_of_variants() {
  static const dbus::Signature sv = dbus::Signature::from_constant("{sv}");
  return sv;
}

// A view into the call, which outlives every use of it.
std::expected<std::string_view, MethodError> read_name(MessageReader& args) {
  auto name = args.read_string_view();
  if (!name) return std::unexpected(argument_mismatch(name.error()));
  return *name;
}

// A name longer than D-Bus allows is invalid whatever else it holds, and its first 256 bytes
// are enough to show it. Checking (and so quoting) only those keeps the error reply small:
// quoting can make a text six times longer, and a reply beyond the bus's message limit makes
// the daemon drop our connection. A cut inside a character leaves a shorter text that still
// holds a non-ASCII character, which no valid name does.
std::string_view checked_part(std::string_view name) {
  return text::leading_characters(name, dbus::maximum_name_length + 1);
}

std::expected<const InterfaceDef*, MethodError> select_interface(const MethodContext& call, std::string_view name) {
  if (auto valid = dbus::InterfaceName::check(checked_part(name)); !valid) {
    return std::unexpected(invalid_argument(text::quoted(valid.error())));
  }
  auto found = call.object.interfaces.find(name);
  if (found == call.object.interfaces.end()) return std::unexpected(unknown_interface(name));
  return found->second.get();
}

std::expected<const PropertyDef*, MethodError> select_property(const InterfaceDef& interface, std::string_view name) {
  auto found = interface.properties.find(name);
  if (found != interface.properties.end()) return &found->second;
  if (name.size() <= dbus::maximum_name_length) return std::unexpected(unknown_property(name));
  // Longer than any member name, so no property's: echoed whole, a 31 MB name made a reply as
  // large, which the service held while the bus daemon took it. Its first bytes and its size
  // tell the caller what was sent.
  return std::unexpected(
      unknown_property(text::quoted(checked_part(name)) + " (" + std::to_string(name.size()) + " bytes)"));
}

// The property's current value as one variant; the getter's failure is passed on unchanged.
Appended append_value(MessageWriter& out, const PropertyContext& context) {
  const PropertyDef& property = context.property;
  return out.with_variant(property.signature, [&](MessageWriter& value) { return property.getter(value, context); });
}

// The interface and property that a Get or Set names in its first two arguments.
struct Target {
  const InterfaceDef* interface;
  const PropertyDef* property;
};

std::expected<Target, MethodError> select_target(const MethodContext& call, MessageReader& args) {
  auto interface_name = read_name(args);
  if (!interface_name) return std::unexpected(interface_name.error());
  auto property_name = read_name(args);
  if (!property_name) return std::unexpected(property_name.error());
  auto interface = select_interface(call, *interface_name);
  if (!interface) return std::unexpected(interface.error());
  auto property = select_property(**interface, *property_name);
  if (!property) return std::unexpected(property.error());
  return Target{*interface, *property};
}

// What a Get or GetAll answers with: the reply alone.
std::vector<Message> reply_only(Message reply) {
  std::vector<Message> list;
  list.push_back(std::move(reply));
  return list;
}

HandlerResult get(const MethodContext& call) {
  MessageReader args(call.message);
  auto target = select_target(call, args);
  if (!target) return std::unexpected(target.error());
  const PropertyDef& property = *target->property;
  if (!property.readable()) return std::unexpected(property_write_only(property.name));

  Message reply = Message::method_return(call.message);
  MessageWriter out(reply);
  if (auto appended = append_value(out, PropertyContext{call, *target->interface, property}); !appended) {
    return std::unexpected(appended.error());
  }
  return reply_only(std::move(reply));
}

HandlerResult get_all(const MethodContext& call) {
  MessageReader args(call.message);
  auto interface_name = read_name(args);
  if (!interface_name) return std::unexpected(interface_name.error());
  auto interface = select_interface(call, *interface_name);
  if (!interface) return std::unexpected(interface.error());

  Message reply = Message::method_return(call.message);
  MessageWriter out(reply);
  Appended filled = out.with_array(dict_entry_of_variants(), [&](MessageWriter& entries) -> Appended {
    for (const auto& [name, property] : (*interface)->properties) {
      if (!property.readable()) continue;
      Appended entry = entries.with_dict_entry([&](MessageWriter& pair) {
        pair.append_string(name);
        return append_value(pair, PropertyContext{call, **interface, property});
      });
      if (!entry) return entry;
    }
    return {};
  });
  if (!filled) return std::unexpected(filled.error());
  return reply_only(std::move(reply));
}

// Whether a Set of `property` is announced at all.
bool announced(const PropertyDef& property) {
  return property.auto_emit && property.emits_changed != EmitsChangedMode::none &&
         property.emits_changed != EmitsChangedMode::constant;
}

// The property just set, then every property of its interface that follows it, each announced
// as its mode says.
std::vector<const PropertyDef*> announced_after_set(const PropertyContext& context) {
  std::vector<const PropertyDef*> properties;
  if (announced(context.property)) properties.push_back(&context.property);
  for (const auto& [name, other] : context.interface.properties) {
    if (std::ranges::find(other.follows, context.property.name) != other.follows.end() &&
        other.emits_changed != EmitsChangedMode::none && other.emits_changed != EmitsChangedMode::constant)
      properties.push_back(&other);
  }
  return properties;
}

// PropertiesChanged for a property that was just set and those that follow it, or nothing when
// their modes ask for none.
std::expected<std::optional<Message>, MethodError> change_signal(const PropertyContext& context) {
  const std::vector<const PropertyDef*> properties = announced_after_set(context);
  if (properties.empty()) return std::nullopt;

  static const dbus::InterfaceName interface = dbus::InterfaceName::from_constant(properties_interface_name);
  static const dbus::MemberName member = dbus::MemberName::from_constant("PropertiesChanged");
  Message signal = Message::signal(context.object().path, interface, member);
  MessageWriter out(signal);
  out.append_string(context.interface.name.view());
  Appended changed = out.with_array(dict_entry_of_variants(), [&](MessageWriter& entries) -> Appended {
    for (const PropertyDef* property : properties) {
      if (property->emits_changed != EmitsChangedMode::emits || !property->readable()) continue;
      Appended entry = entries.with_dict_entry([&](MessageWriter& pair) {
        pair.append_string(property->name);
        return append_value(pair, PropertyContext{context.call, context.interface, *property});
      });
      if (!entry) return entry;
    }
    return {};
  });
  if (!changed) return std::unexpected(changed.error());
  static const dbus::Signature string_type = dbus::Signature::from_constant("s");
  MessageWriter invalidated = out.open_array(string_type);
  for (const PropertyDef* property : properties)
    if (property->emits_changed == EmitsChangedMode::invalidates) invalidated.append_string(property->name);
  out.close(invalidated);
  return std::optional<Message>(std::move(signal));
}

HandlerResult set(const MethodContext& call) {
  MessageReader args(call.message);
  auto target = select_target(call, args);
  if (!target) return std::unexpected(target.error());
  const PropertyDef& property = *target->property;
  if (!property.writable()) return std::unexpected(property_read_only(property.name));

  std::optional<MessageReader> value = args.enter_variant();
  if (!value) return std::unexpected(invalid_argument("2"));
  if (value->current_signature() != property.signature.view()) {
    return std::unexpected(property_type_change(property.name));
  }

  const PropertyContext context{call, *target->interface, property};
  if (auto stored = property.setter(*value, context); !stored) return std::unexpected(stored.error());

  // The signal goes out before the reply, so a client waiting for the reply has it already.
  auto signal = change_signal(context);
  if (!signal) return std::unexpected(signal.error());
  std::vector<Message> out;
  if (*signal) out.push_back(std::move(**signal));
  out.push_back(Message::method_return(call.message));
  return out;
}

ArgDef arg(std::string_view name, std::string_view type) {
  return ArgDef{std::string(name), dbus::Signature::from_constant(type)};
}

MethodDef method(std::string_view name, MethodHandler handler, std::vector<ArgDef> in, std::vector<ArgDef> out) {
  return MethodDef{dbus::MemberName::from_constant(name), std::move(handler), std::move(in), std::move(out), {}};
}

InterfaceDef build_properties_interface() {
  InterfaceDef definition{dbus::InterfaceName::from_constant(properties_interface_name), {}, {}, {}, {}};
  definition.add_method(
      method("Get", get, {arg("interface_name", "s"), arg("property_name", "s")}, {arg("value", "v")}));
  definition.add_method(method("GetAll", get_all, {arg("interface_name", "s")}, {arg("props", "a{sv}")}));
  definition.add_method(
      method("Set", set, {arg("interface_name", "s"), arg("property_name", "s"), arg("value", "v")}, {}));
  definition.add_signal(
      SignalDef{dbus::MemberName::from_constant("PropertiesChanged"),
                {arg("interface_name", "s"), arg("changed_properties", "a{sv}"), arg("invalidated_properties", "as")},
                {}});
  return definition;
}

}  // namespace

std::shared_ptr<const InterfaceDef> properties_interface() {
  return shared_interface(properties_interface_name, build_properties_interface);
}

}  // namespace tree
