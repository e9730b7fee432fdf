#pragma once
// The error replies the object layer itself answers with; each text is written here once.
#include <string_view>

#include "dbus/arg_type.hpp"
#include "tree/definitions.hpp"

namespace tree {

// "Unknown interface " + name; dispatch passes an empty name.
MethodError unknown_interface(std::string_view name);
// "Unknown method ", without the name.
MethodError unknown_method();
MethodError unknown_property(std::string_view name);
// "Invalid argument " + detail.
MethodError invalid_argument(std::string_view detail);
MethodError argument_mismatch(const dbus::TypeMismatch& mismatch);
MethodError property_write_only(std::string_view name);
MethodError property_read_only(std::string_view name);
MethodError property_type_change(std::string_view name);

}  // namespace tree
