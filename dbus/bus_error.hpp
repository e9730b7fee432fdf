#pragma once
// The bus layer's error value: a D-Bus error name and a message, owning its libdbus record.
#include <dbus/dbus.h>

#include <string>
#include <string_view>

#include "dbus/arg_type.hpp"
#include "dbus/names.hpp"

namespace dbus {

class BusError {
 public:
  // Adopts a record that a failing libdbus call filled in; `record` is left initialised and empty.
  static BusError adopt(DBusError& record) noexcept;
  // Any name and message; the stored message equals `message` exactly, "%" included.
  static BusError custom(const ErrorName& name, std::string_view message);
  // custom() with standard_error::failed().
  static BusError failed(std::string_view message);
  // failed() with the mismatch text.
  static BusError from(const TypeMismatch& mismatch);

  BusError(BusError&& other) noexcept;
  BusError& operator=(BusError&& other) noexcept;
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  ~BusError();

  // Empty when absent.
  std::string_view name() const noexcept;
  std::string_view message() const noexcept;

  // What failure reports print: the message alone.
  std::string text() const;
  // "D-Bus error: {message} ({name})"
  std::string detailed() const;

 private:
  BusError() noexcept;
  DBusError record_;
};

// The record one libdbus call fills in when it fails: initialised here and freed on every path,
// so each call site only says what it does with a failure.
class ErrorRecord {
 public:
  ErrorRecord() noexcept { dbus_error_init(&record_); }
  ErrorRecord(const ErrorRecord&) = delete;
  ErrorRecord& operator=(const ErrorRecord&) = delete;
  ~ErrorRecord() { dbus_error_free(&record_); }

  // For the libdbus call's error parameter.
  DBusError* out() noexcept { return &record_; }
  // The failure as a BusError; the record is left empty.
  BusError take() noexcept { return BusError::adopt(record_); }
  // libdbus's message alone, empty when it left none.
  std::string_view message() const noexcept {
    return record_.message != nullptr ? std::string_view(record_.message) : std::string_view();
  }

 private:
  DBusError record_;
};

}  // namespace dbus
