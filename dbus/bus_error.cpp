#include "dbus/bus_error.hpp"

#include "dbus/fatal.hpp"

namespace dbus {
namespace {

std::string with_doubled_percents(std::string_view text) {
  std::string doubled;
  doubled.reserve(text.size());
  for (char c : text) {
    doubled += c;
    if (c == '%') doubled += '%';
  }
  return doubled;
}

}  // namespace

BusError::BusError() noexcept { dbus_error_init(&record_); }

BusError BusError::adopt(DBusError& record) noexcept {
  BusError error;
  dbus_move_error(&record, &error.record_);
  return error;
}

BusError BusError::custom(const ErrorName& name, std::string_view message) {
  ensure_library_initialised();
  // The message goes in as a printf format: each "%%" comes out as the "%" the caller wrote.
  const std::string format = with_doubled_percents(message);
  BusError error;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  dbus_set_error(&error.record_, name.c_str(), format.c_str());
#pragma GCC diagnostic pop
  return error;
}

BusError BusError::failed(std::string_view message) { return custom(standard_error::failed(), message); }

BusError BusError::from(const TypeMismatch& mismatch) { return failed(mismatch.text()); }

BusError::BusError(BusError&& other) noexcept {
  dbus_error_init(&record_);
  dbus_move_error(&other.record_, &record_);
}

BusError& BusError::operator=(BusError&& other) noexcept {
  if (this != &other) {
    dbus_error_free(&record_);
    dbus_move_error(&other.record_, &record_);
  }
  return *this;
}

BusError::~BusError() { dbus_error_free(&record_); }

std::string_view BusError::name() const noexcept {
  return record_.name != nullptr ? std::string_view(record_.name) : std::string_view();
}

std::string_view BusError::message() const noexcept {
  return record_.message != nullptr ? std::string_view(record_.message) : std::string_view();
}

std::string BusError::text() const { return std::string(message()); }

std::string BusError::detailed() const {
  std::string result = "D-Bus error: ";
  result += message();
  result += " (";
  result += name();
  result += ")";
  return result;
}

}  // namespace dbus
