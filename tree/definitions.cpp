// Derived property rules and insert-or-replace building of interfaces.
#include "tree/definitions.hpp"

#include <utility>

namespace tree {

PropertyDef PropertyDef::named(std::string name, dbus::Signature signature) {
  return PropertyDef{
      std::move(name), std::move(signature), PropertyAccess::read, EmitsChangedMode::emits, true, {}, {}, {}, {}};
}

bool PropertyDef::readable() const noexcept { return access != PropertyAccess::write && static_cast<bool>(getter); }

bool PropertyDef::writable() const noexcept {
  return access != PropertyAccess::read && static_cast<bool>(setter) && emits_changed != EmitsChangedMode::constant;
}

InterfaceDef& InterfaceDef::add_method(MethodDef method) {
  std::string key = method.name.str();
  methods.insert_or_assign(std::move(key), std::move(method));
  return *this;
}

InterfaceDef& InterfaceDef::add_signal(SignalDef signal) {
  std::string key = signal.name.str();
  signals.insert_or_assign(std::move(key), std::move(signal));
  return *this;
}

InterfaceDef& InterfaceDef::add_property(PropertyDef property) {
  std::string key = property.name;
  properties.insert_or_assign(std::move(key), std::move(property));
  return *this;
}

}  // namespace tree
