// Names and texts of the object layer's own error replies.
#include "tree/method_errors.hpp"

#include <string>

namespace tree {
namespace {

MethodError make(std::string_view error_name, std::string message) {
  return MethodError{dbus::ErrorName::from_constant(error_name), std::move(message)};
}

constexpr std::string_view failed_name = "org.freedesktop.DBus.Error.Failed";

std::string property_text(std::string_view name, std::string_view what) {
  std::string text = "Property ";
  text.append(name).append(what);
  return text;
}

}  // namespace

MethodError unknown_interface(std::string_view name) {
  return make("org.freedesktop.DBus.Error.UnknownInterface", std::string("Unknown interface ").append(name));
}

MethodError unknown_method() { return make("org.freedesktop.DBus.Error.UnknownMethod", "Unknown method "); }

MethodError unknown_property(std::string_view name) {
  return make("org.freedesktop.DBus.Error.UnknownProperty", std::string("Unknown property ").append(name));
}

MethodError invalid_argument(std::string_view detail) {
  return make("org.freedesktop.DBus.Error.InvalidArgs", std::string("Invalid argument ").append(detail));
}

MethodError argument_mismatch(const dbus::TypeMismatch& mismatch) { return make(failed_name, mismatch.text()); }

MethodError property_write_only(std::string_view name) {
  return make(failed_name, property_text(name, " is write only"));
}

MethodError property_read_only(std::string_view name) {
  return make("org.freedesktop.DBus.Error.PropertyReadOnly", property_text(name, " is read only"));
}

MethodError property_type_change(std::string_view name) {
  return make(failed_name, property_text(name, " cannot change type"));
}

}  // namespace tree
