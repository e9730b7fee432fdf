#include "src/bus_failure.hpp"

namespace ranged {

Error to_error(const bus::BusError& failure) { return Error(failure.text()); }

Error to_error(const bus::TypeMismatch& mismatch) { return to_error(bus::BusError::from(mismatch)); }

}  // namespace ranged
