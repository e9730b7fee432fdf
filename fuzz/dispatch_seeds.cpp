// Writes the seed corpus of the dispatch fuzz target: one marshalled message per file, covering
// every member of every interface of the object, with good and bad arguments.
// Usage: dispatch_seeds DIRECTORY
#include <dbus/dbus.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace {

using Fill = std::function<void(DBusMessageIter&)>;

void put_string(DBusMessageIter& iter, const char* text) {
  dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &text);
}

void put_variant(DBusMessageIter& iter, const char* signature, int type, const void* value) {
  DBusMessageIter variant;
  dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, signature, &variant);
  dbus_message_iter_append_basic(&variant, type, value);
  dbus_message_iter_close_container(&iter, &variant);
}

void write_seed(const std::string& directory, const std::string& name, int type, const char* path,
                const char* interface, const char* member, const Fill& fill) {
  DBusMessage* message = dbus_message_new(type);
  dbus_message_set_path(message, path);
  if (interface != nullptr) dbus_message_set_interface(message, interface);
  dbus_message_set_member(message, member);
  dbus_message_set_sender(message, ":1.42");
  dbus_message_set_serial(message, 7);
  DBusMessageIter iter;
  dbus_message_iter_init_append(message, &iter);
  fill(iter);
  char* bytes = nullptr;
  int length = 0;
  if (dbus_message_marshal(message, &bytes, &length)) {
    std::ofstream(directory + "/" + name, std::ios::binary).write(bytes, length);
    dbus_free(bytes);
  }
  dbus_message_unref(message);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: dispatch_seeds DIRECTORY\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  const char* path = "/com/orbo/RIDEviva";
  const char* props = "org.freedesktop.DBus.Properties";
  const char* legacy = "com.orbo.Configuration.Legacy";
  const std::int32_t level = 25, refused = 26, too_high = 31;
  const unsigned char byte = 5;
  const int call = DBUS_MESSAGE_TYPE_METHOD_CALL;
  write_seed(dir, "get", call, path, props, "Get", [&](auto& it) {
    put_string(it, legacy);
    put_string(it, "Range");
  });
  write_seed(dir, "get_all", call, path, props, "GetAll", [&](auto& it) { put_string(it, legacy); });
  write_seed(dir, "set", call, path, props, "Set", [&](auto& it) {
    put_string(it, legacy);
    put_string(it, "Range");
    put_variant(it, "i", DBUS_TYPE_INT32, &level);
  });
  write_seed(dir, "set_refused_by_radio", call, path, props, "Set", [&](auto& it) {
    put_string(it, legacy);
    put_string(it, "Range");
    put_variant(it, "i", DBUS_TYPE_INT32, &refused);
  });
  write_seed(dir, "set_too_high", call, path, props, "Set", [&](auto& it) {
    put_string(it, legacy);
    put_string(it, "Range");
    put_variant(it, "i", DBUS_TYPE_INT32, &too_high);
  });
  write_seed(dir, "set_byte", call, path, props, "Set", [&](auto& it) {
    put_string(it, legacy);
    put_string(it, "Range");
    put_variant(it, "y", DBUS_TYPE_BYTE, &byte);
  });
  write_seed(dir, "get_bad_interface", call, path, props, "Get", [&](auto& it) {
    put_string(it, "com..orbo\x01");
    put_string(it, "Range");
  });
  // Once made a reply five times the size of the call: quoting expanded every control character.
  const std::string controls(3000, '\x01');
  write_seed(dir, "get_long_control_interface", call, path, props, "Get", [&](auto& it) {
    put_string(it, controls.c_str());
    put_string(it, "Range");
  });
  write_seed(dir, "introspect", call, path, "org.freedesktop.DBus.Introspectable", "Introspect", [](auto&) {});
  write_seed(dir, "peer_ping", call, path, "org.freedesktop.DBus.Peer", "Ping", [](auto&) {});
  write_seed(dir, "no_interface", call, path, nullptr, "Get", [](auto&) {});
  write_seed(dir, "other_path", call, "/com/orbo", props, "Get", [&](auto& it) { put_string(it, legacy); });
  write_seed(dir, "signal", DBUS_MESSAGE_TYPE_SIGNAL, path, props, "PropertiesChanged",
             [&](auto& it) { put_string(it, legacy); });
  return 0;
}
