#include "tests/harness/silent_bridge.hpp"

#include <stdexcept>
#include <string>

#include "tests/harness/bridge.hpp"

namespace harness {
namespace {

[[noreturn]] void fail(const std::string& step, DBusError& error) {
  const std::string text = step + ": " + (error.message != nullptr ? error.message : "unknown error");
  dbus_error_free(&error);
  throw std::runtime_error(text);
}

}  // namespace

void SilentBridge::Close::operator()(DBusConnection* connection) const noexcept {
  dbus_connection_close(connection);
  dbus_connection_unref(connection);
}

SilentBridge::SilentBridge(const PrivateBus& bus) {
  DBusError error;
  dbus_error_init(&error);
  connection_.reset(dbus_connection_open_private(bus.address().c_str(), &error));
  if (!connection_) fail("connect", error);
  dbus_connection_set_exit_on_disconnect(connection_.get(), false);
  if (!dbus_bus_register(connection_.get(), &error)) fail("Hello", error);
  const std::string name(bridge_bus_name);
  const int owned = dbus_bus_request_name(connection_.get(), name.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error);
  if (owned == -1) fail("RequestName", error);
  if (owned != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) throw std::runtime_error("the bridge's name has another owner");
}

}  // namespace harness
