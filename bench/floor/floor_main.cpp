// The floor: the least work a single-threaded libdbus service on this bus can do per request.
// It owns com.orbo.RIDEviva and answers every method call with the same variant INT32, without
// looking at path, interface or member. The range service is measured against it.
#include <dbus/dbus.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bench/floor/bus_handles.hpp"

namespace {

constexpr const char* service_name = "com.orbo.RIDEviva";
// Like the service, but never queued: a floor that does not own the name would measure nothing.
constexpr std::uint32_t name_flags = DBUS_NAME_FLAG_REPLACE_EXISTING | DBUS_NAME_FLAG_DO_NOT_QUEUE;
constexpr int pump_wait_ms = 1000;  // the range service's pump step

bench::MessageRef range_reply(DBusMessage* call, std::int32_t range) {
  bench::MessageRef reply{dbus_message_new_method_return(call)};
  if (!reply) bench::out_of_memory("dbus_message_new_method_return");
  DBusMessageIter args;
  DBusMessageIter variant;
  dbus_message_iter_init_append(reply.get(), &args);
  if (!dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, DBUS_TYPE_INT32_AS_STRING, &variant))
    bench::out_of_memory("dbus_message_iter_open_container");
  if (!dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &range))
    bench::out_of_memory("dbus_message_iter_append_basic");
  if (!dbus_message_iter_close_container(&args, &variant)) bench::out_of_memory("dbus_message_iter_close_container");
  return reply;
}

// Same shape as the service's pump step: pop, else read/write for up to 1000 ms and pop again.
// BLOCKS up to pump_wait_ms. False when the bus is gone.
bool pump_one(DBusConnection* connection, std::int32_t range) {
  bench::MessageRef message{dbus_connection_pop_message(connection)};
  if (!message) {
    if (!dbus_connection_read_write(connection, pump_wait_ms)) return false;
    message.reset(dbus_connection_pop_message(connection));
    if (!message) return true;
  }
  if (dbus_message_get_type(message.get()) == DBUS_MESSAGE_TYPE_METHOD_CALL)
    bench::send(connection, range_reply(message.get(), range).get());
  return true;
}

int usage() {
  std::fputs(
      "usage: ble-bench-floor [RANGE]\n"
      "Owns com.orbo.RIDEviva on the system bus and answers every method call with\n"
      "a variant INT32 holding RANGE (default 20) until the bus goes away.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::int32_t range = 20;
  if (argc > 2) return usage();
  if (argc == 2) {
    const std::string_view text = argv[1];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), range);
    if (ec != std::errc{} || end != text.data() + text.size()) return usage();
  }
  {
    auto connection = bench::open_system_bus();
    if (!connection) {
      std::fprintf(stderr, "Error: %s\n", connection.error().c_str());
      return 1;
    }
    if (auto owned = bench::own_name(connection->get(), service_name, name_flags); !owned) {
      std::fprintf(stderr, "Error: %s\n", owned.error().c_str());
    } else {
      while (pump_one(connection->get(), range)) {
      }
      std::fputs("Error: Failed to read/write data, disconnected from D-Bus?\n", stderr);
    }
  }
  dbus_shutdown();
  return 1;  // the floor only ends on a failure
}
