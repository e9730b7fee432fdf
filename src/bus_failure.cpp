#include "src/bus_failure.hpp"

namespace ranged {

Error to_error(const dbus::BusError& failure) { return Error(failure.text()); }

Error to_error(const dbus::TypeMismatch& mismatch) { return to_error(dbus::BusError::from(mismatch)); }

}  // namespace ranged
