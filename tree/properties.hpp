#pragma once
// org.freedesktop.DBus.Properties: Get, GetAll, Set and PropertiesChanged.
#include <memory>
#include <string>
#include <string_view>

#include "tree/definitions.hpp"

namespace tree {

inline constexpr std::string_view properties_interface_name = "org.freedesktop.DBus.Properties";

// Built once and shared by every object that carries properties.
std::shared_ptr<const InterfaceDef> properties_interface();

// "\"text\"" with Rust-style escapes, for the InvalidArgs text of a bad interface name.
std::string quoted(std::string_view text);

}  // namespace tree
