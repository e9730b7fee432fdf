// ble-bench-set-parts: the three costs of an accepted Set of Range, each timed on its own with
// the same calls the service makes: a new private bus connection (opened and closed), one
// ExecuteHcitool round trip to the bridge, and one durable file replacement through libcfgkit.
// Usage: ble-bench-set-parts --iterations N --file PATH
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <glib.h>

#include "dbus/bus_connection.hpp"
#include "dbus/call_blocking.hpp"
#include "dbus/message_reader.hpp"
#include "platform/cfgkit/cfgkit.h"

namespace {

using Clock = std::chrono::steady_clock;
using Part = std::function<std::expected<void, std::string>()>;

const char* const stored_contents = "[Bluetooth]\nRange = 20\n";
constexpr mode_t stored_mode = 0644;

std::expected<void, std::string> connect_and_close() {
  auto connection = bus::BusConnection::open_system_bus();  // BLOCKS while connecting
  if (!connection) return std::unexpected(connection.error().text());
  return {};  // closed here, as the transmit-power command closes its own
}

std::expected<void, std::string> bridge_round_trip(DBusConnection* connection) {
  const bus::MethodTarget bridge{bus::BusName::from_constant("com.orbo.ZozovoZorOrevov"),
                                 bus::BusPath::from_constant("/com/orbo/ZozovoZorOrevov"), std::chrono::seconds(5),
                                 connection};
  auto reply = bus::call_blocking(bridge, bus::InterfaceName::from_constant("com.orbo.ZozovoZorOrevov"),
                                  bus::MemberName::from_constant("ExecuteHcitool"),
                                  {std::string("hci0"), std::string("0x3f"), std::string("0x0087"), std::string("0x0")});
  if (!reply) return std::unexpected(reply.error().text());
  bus::MessageReader reader(*reply);
  auto output = reader.read_string();
  if (!output) return std::unexpected(output.error().text());
  return {};
}

std::expected<void, std::string> replace_file(const std::string& path) {
  GError* error = nullptr;
  const std::string_view contents = stored_contents;
  if (cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.data(), contents.size(), getuid(), getgid(),
                                              stored_mode, &error))
    return {};
  std::string text = error ? error->message : "libcfgkit failed without a reason";
  g_clear_error(&error);
  return std::unexpected(text);
}

// Median milliseconds over the iterations; the first failure ends the measurement.
std::expected<double, std::string> median_ms(const Part& part, unsigned iterations) {
  std::vector<double> millis;
  for (unsigned i = 0; i < iterations; ++i) {
    const auto started = Clock::now();
    if (auto done = part(); !done) return std::unexpected(done.error());
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
  }
  std::sort(millis.begin(), millis.end());
  return millis[millis.size() / 2];
}

int usage() {
  std::fputs("usage: ble-bench-set-parts --iterations N --file PATH\n", stderr);
  return 2;
}

int fail(const std::string& what, const std::string& why) {
  std::fprintf(stderr, "Error: %s: %s\n", what.c_str(), why.c_str());
  return 1;
}

int measure(unsigned iterations, const std::string& path) {
  auto connect = median_ms(connect_and_close, iterations);
  if (!connect) return fail("connection set-up", connect.error());

  auto connection = bus::BusConnection::open_system_bus();
  if (!connection) return fail("connection set-up", connection.error().text());
  auto bridge = median_ms([&connection] { return bridge_round_trip(connection->raw()); }, iterations);
  if (!bridge) return fail("bridge round trip", bridge.error());

  auto file = median_ms([&path] { return replace_file(path); }, iterations);
  if (!file) return fail("file write", file.error());

  std::printf("iterations=%u connect_ms=%.3f bridge_ms=%.3f file_ms=%.3f sum_ms=%.3f\n", iterations, *connect, *bridge,
              *file, *connect + *bridge + *file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "--iterations" || std::string_view(argv[3]) != "--file")
    return usage();
  unsigned iterations = 0;
  const std::string_view count = argv[2];
  const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), iterations);
  if (ec != std::errc{} || end != count.data() + count.size() || iterations == 0) return usage();
  const int status = measure(iterations, argv[4]);
  dbus_shutdown();
  return status;
}
