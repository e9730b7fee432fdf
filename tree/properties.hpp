#pragma once
// org.freedesktop.DBus.Properties: Get, GetAll, Set and PropertiesChanged.
#include <memory>
#include <string_view>

#include "tree/definitions.hpp"

namespace tree {

inline constexpr std::string_view properties_interface_name = "org.freedesktop.DBus.Properties";

// Built once and shared by every object that carries properties.
std::shared_ptr<const InterfaceDef> properties_interface();

}  // namespace tree
