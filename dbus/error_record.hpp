#pragma once
// The record one libdbus call fills in when it fails. For the bus layer's own files (and its own
// tests) only: everything outside dbus/ sees the failure as a BusError.
#include <dbus/dbus.h>

#include <string_view>

#include "dbus/bus_error.hpp"

namespace dbus {

// Initialised here and freed on every path, so each call site only says what it does with a
// failure.
class ErrorRecord {
 public:
  ErrorRecord() noexcept { dbus_error_init(&record_); }
  ErrorRecord(const ErrorRecord&) = delete;
  ErrorRecord& operator=(const ErrorRecord&) = delete;
  ~ErrorRecord() { dbus_error_free(&record_); }

  // For the libdbus call's error parameter.
  DBusError* out() noexcept { return &record_; }
  // The failure as a BusError (empty name and message when libdbus left none); the record is
  // left empty.
  BusError take();
  // libdbus's message alone, empty when it left none.
  std::string_view message() const noexcept { return text(record_.message); }

 private:
  static std::string_view text(const char* field) noexcept {
    return field != nullptr ? std::string_view(field) : std::string_view();
  }
  DBusError record_;
};

}  // namespace dbus
