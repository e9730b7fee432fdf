#pragma once
// Declared tables of what an object offers on the bus: interfaces, methods, signals, properties.
#include <any>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbus/message.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"

namespace tree {

// What a handler, getter or setter answers with on failure; sent back as an error reply.
struct MethodError {
  dbus::ErrorName name;
  std::string message;
};

// Definitions by name, in byte order. The comparator is transparent, so a name taken from a
// message (a std::string_view) finds its entry without being copied into a key string.
template <class T>
using NameMap = std::map<std::string, T, std::less<>>;

using Annotations = std::map<std::string, std::string>;  // byte order

struct ArgDef {
  std::optional<std::string> name;
  dbus::Signature signature;
};

class ObjectTree;
struct TreeObject;
struct InterfaceDef;
struct MethodDef;

struct MethodContext {
  const dbus::Message& message;
  const TreeObject& object;
  const InterfaceDef& interface;
  const MethodDef& method;
  const ObjectTree& tree;
};

// Messages to send, in order (normally one method return), or an error for the caller.
using HandlerResult = std::expected<std::vector<dbus::Message>, MethodError>;
// No message now: the handler keeps the call (dbus::Message::another_reference) and sends its reply later
// on the same connection (dbus::BusConnection::send).
inline HandlerResult answered_later() { return std::vector<dbus::Message>{}; }
using MethodHandler = std::function<HandlerResult(const MethodContext&)>;

struct MethodDef {
  dbus::MemberName name;
  MethodHandler handler;
  std::vector<ArgDef> in_args;
  std::vector<ArgDef> out_args;
  Annotations annotations;
};

struct SignalDef {
  dbus::MemberName name;
  std::vector<ArgDef> args;
  Annotations annotations;
};

enum class PropertyAccess { read, readwrite, write };
enum class EmitsChangedMode { emits, invalidates, constant, none };  // "true", "invalidates", "const", "false"

struct PropertyDef;

// The running Get/GetAll/Set call, with the interface its first argument named and the property.
struct PropertyContext {
  const MethodContext& call;
  const InterfaceDef& interface;
  const PropertyDef& property;
  const TreeObject& object() const noexcept { return call.object; }
};

using PropertyGetter = std::function<std::expected<void, MethodError>(dbus::MessageWriter&, const PropertyContext&)>;
using PropertySetter = std::function<std::expected<void, MethodError>(dbus::MessageReader&, const PropertyContext&)>;

struct PropertyDef {
  std::string name;
  dbus::Signature signature;
  PropertyAccess access = PropertyAccess::read;
  EmitsChangedMode emits_changed = EmitsChangedMode::emits;
  bool auto_emit = true;
  PropertyGetter getter;  // empty when absent
  PropertySetter setter;  // empty when absent
  Annotations annotations;
  // Properties of the same interface whose successful Set changes this one too (a value derived
  // from theirs): it is announced in the same PropertiesChanged, after the property set, as its
  // own mode says.
  std::vector<std::string> follows;

  // Read-only, announced with its value, no handlers: the fields a definition then sets by name
  // (new fields come with defaults, so no definition has to change for them).
  static PropertyDef named(std::string name, dbus::Signature signature);

  bool readable() const noexcept;
  bool writable() const noexcept;
};

struct InterfaceDef {
  dbus::InterfaceName name;
  NameMap<MethodDef> methods;
  NameMap<SignalDef> signals;
  NameMap<PropertyDef> properties;
  Annotations annotations;

  // Insert or replace under the definition's name.
  InterfaceDef& add_method(MethodDef method);
  InterfaceDef& add_signal(SignalDef signal);
  InterfaceDef& add_property(PropertyDef property);
};

struct TreeObject {
  dbus::BusPath path;
  std::optional<dbus::InterfaceName> default_interface;
  NameMap<std::shared_ptr<const InterfaceDef>> interfaces;  // shared definitions
  std::any user_data;

  template <class T>
  T* data() const noexcept {
    return std::any_cast<T>(const_cast<std::any*>(&user_data));
  }
};

}  // namespace tree
