#pragma once
// Standard interface definitions, built once and handed to every object that carries them.
#include <functional>
#include <memory>
#include <string_view>

#include "tree/definitions.hpp"

namespace tree {

// The definition stored under `name`, built by `build` the first time it is asked for.
// Takes a lock; meant for building trees, never for dispatch.
std::shared_ptr<const InterfaceDef> shared_interface(std::string_view name,
                                                     const std::function<InterfaceDef()>& build);

}  // namespace tree
