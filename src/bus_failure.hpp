#pragma once
// How failures of the bus layer read as the service's own error values.
#include "dbus/arg_type.hpp"
#include "dbus/bus_error.hpp"
#include "src/error.hpp"

namespace ranged {

// The bus error's message alone, as failure reports and error replies show it.
Error to_error(const dbus::BusError& failure);
// A reply argument of the wrong type reads as the bus layer's "Failed" error with the mismatch text.
Error to_error(const dbus::TypeMismatch& mismatch);

}  // namespace ranged
