// name_flood: asks the range service for a property whose name is as large as told, as any
// account may (Get is open to everyone), and prints how each call ended: "ok", or the D-Bus
// error's name. The system tier runs several at once as an unprivileged account to see what the
// service's bounds make of it. libdbus only, so that it runs on the test system as it is.
//
// Usage: name_flood BYTES CALLS
#include <dbus/dbus.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: name_flood BYTES CALLS\n", stderr);
    return 2;
  }
  const std::string name(std::strtoul(argv[1], nullptr, 10), 'x');
  const unsigned long calls = std::strtoul(argv[2], nullptr, 10);
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get(DBUS_BUS_SYSTEM, &error);
  if (bus == nullptr) {
    std::printf("no bus: %s\n", error.message);
    return 1;
  }
  for (unsigned long i = 0; i < calls; ++i) {
    DBusMessage* call = dbus_message_new_method_call("com.orbo.RIDEviva", "/com/orbo/RIDEviva",
                                                     "org.freedesktop.DBus.Properties", "Get");
    const char* interface = "com.orbo.Configuration.Legacy";
    const char* property = name.c_str();
    dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
    // BLOCKS up to 60 s for the answer.
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, 60000, &error);
    dbus_message_unref(call);
    if (reply != nullptr) {
      std::puts("ok");
      dbus_message_unref(reply);
    } else {
      std::puts(error.name);
      dbus_error_free(&error);
    }
    std::fflush(stdout);
  }
  dbus_connection_unref(bus);
  return 0;
}
