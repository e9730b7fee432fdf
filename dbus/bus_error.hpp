#pragma once
// The bus layer's error value: a D-Bus error name and a message.
#include <string>
#include <string_view>
#include <utility>

#include "dbus/arg_type.hpp"
#include "dbus/names.hpp"

namespace dbus {

class BusError {
 public:
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
  ~BusError() = default;

  // Empty when absent.
  std::string_view name() const noexcept { return name_; }
  std::string_view message() const noexcept { return message_; }

  // What failure reports print: the message alone.
  std::string text() const;
  // "D-Bus error: {message} ({name})"
  std::string detailed() const;

 private:
  friend class ErrorRecord;  // dbus/error_record.hpp: what a failing libdbus call reported
  BusError(std::string name, std::string message) noexcept : name_(std::move(name)), message_(std::move(message)) {}
  // Copies of the text, not libdbus's record: the record is freed where the failing call filled it.
  std::string name_;
  std::string message_;
};

}  // namespace dbus
