#include "dbus/bus_error.hpp"

#include <utility>

#include "dbus/error_record.hpp"

namespace dbus {

BusError BusError::custom(const ErrorName& name, std::string_view message) {
  // Error texts are C strings wherever they go (an error reply, libdbus's records), so a NUL
  // ends this one too.
  return BusError(name.str(), std::string(message.substr(0, message.find('\0'))));
}

BusError BusError::failed(std::string_view message) { return custom(standard_error::failed(), message); }

BusError BusError::from(const TypeMismatch& mismatch) { return failed(mismatch.text()); }

// Spelled out so that the source is left empty for certain, as the record it replaced was.
BusError::BusError(BusError&& other) noexcept
    : name_(std::exchange(other.name_, {})), message_(std::exchange(other.message_, {})) {}

BusError& BusError::operator=(BusError&& other) noexcept {
  if (this != &other) {
    name_ = std::exchange(other.name_, {});
    message_ = std::exchange(other.message_, {});
  }
  return *this;
}

std::string BusError::text() const { return message_; }

std::string BusError::detailed() const {
  std::string result = "D-Bus error: ";
  result += message_;
  result += " (";
  result += name_;
  result += ")";
  return result;
}

BusError ErrorRecord::take() {
  BusError error(std::string(text(record_.name)), std::string(text(record_.message)));
  dbus_error_free(&record_);
  dbus_error_init(&record_);
  return error;
}

}  // namespace dbus
