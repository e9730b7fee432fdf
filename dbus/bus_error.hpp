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
  // custom() with "org.freedesktop.DBus.Error.Failed".
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

}  // namespace dbus
