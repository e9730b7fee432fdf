// Names and texts of the object layer's own error replies.
#include "tree/method_errors.hpp"

#include <string>

namespace tree {
namespace {

namespace standard = dbus::standard_error;

MethodError make(const dbus::ErrorName& name, std::string message) { return MethodError{name, std::move(message)}; }

std::string property_text(std::string_view name, std::string_view what) {
  std::string text = "Property ";
  text.append(name).append(what);
  return text;
}

}  // namespace

MethodError unknown_interface(std::string_view name) {
  return make(standard::unknown_interface(), std::string("Unknown interface ").append(name));
}

MethodError unknown_method() { return make(standard::unknown_method(), "Unknown method "); }

MethodError unknown_property(std::string_view name) {
  return make(standard::unknown_property(), std::string("Unknown property ").append(name));
}

MethodError invalid_argument(std::string_view detail) {
  return make(standard::invalid_args(), std::string("Invalid argument ").append(detail));
}

MethodError argument_mismatch(const dbus::TypeMismatch& mismatch) { return make(standard::failed(), mismatch.text()); }

MethodError property_write_only(std::string_view name) {
  return make(standard::failed(), property_text(name, " is write only"));
}

MethodError property_read_only(std::string_view name) {
  return make(standard::property_read_only(), property_text(name, " is read only"));
}

MethodError property_type_change(std::string_view name) {
  return make(standard::failed(), property_text(name, " cannot change type"));
}

}  // namespace tree
