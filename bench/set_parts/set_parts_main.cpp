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
#include <string>
#include <string_view>
#include <vector>

#include <cfgkit.h>
#include <glib.h>

#include "contract/bridge_interface.hpp"
#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The contents a Set of the load client's alternating levels 20 and 21 leaves. Alternating
// matters: rewriting identical contents syncs many times slower on ext4 here.
const char* const stored_contents[] = {"[Bluetooth]\nRange = 20\n", "[Bluetooth]\nRange = 21\n"};
constexpr mode_t stored_mode = 0644;

std::expected<void, std::string> connect_and_close() {
  auto connection = dbus::BusConnection::open_system_bus();  // BLOCKS while connecting
  if (!connection) return std::unexpected(connection.error().text());
  return {};  // closed here, as the transmit-power command closes its own
}

std::expected<void, std::string> bridge_round_trip(const dbus::BusConnection& connection) {
  const dbus::MethodTarget target{dbus::BusName::from_constant(contract::bridge_bus_name),
                                  dbus::BusPath::from_constant(contract::bridge_path)};
  auto reply = connection.call(target, dbus::InterfaceName::from_constant(contract::bridge_interface),
                               dbus::MemberName::from_constant(contract::execute_member),
                               {std::string("hci0"), std::string("0x3f"), std::string("0x0087"), std::string("0x0")},
                               std::chrono::seconds(5));
  if (!reply) return std::unexpected(reply.error().text());
  dbus::MessageReader reader(*reply);
  auto output = reader.read_string();
  if (!output) return std::unexpected(output.error().text());
  return {};
}

std::expected<void, std::string> replace_file(const std::string& path, unsigned iteration) {
  GError* error = nullptr;
  const std::string_view contents = stored_contents[iteration % 2];
  if (cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.data(), contents.size(), getuid(), getgid(),
                                              stored_mode, &error))
    return {};
  std::string text = error ? error->message : "libcfgkit failed without a reason";
  g_clear_error(&error);
  return std::unexpected(text);
}

struct PartTimes {
  std::vector<double> connect, bridge, file;
};

double elapsed_ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Each iteration runs the parts one after the other, in the order and rhythm of a Set, so the
// file system sees writes spaced as the service spaces them (back-to-back syncs cost far more).
std::expected<PartTimes, std::string> time_parts(unsigned iterations, const dbus::BusConnection& bridge_connection,
                                                 const std::string& path) {
  PartTimes times;
  for (unsigned i = 0; i < iterations; ++i) {
    auto started = Clock::now();
    if (auto done = connect_and_close(); !done) return std::unexpected("connection set-up: " + done.error());
    times.connect.push_back(elapsed_ms(started));
    started = Clock::now();
    if (auto done = bridge_round_trip(bridge_connection); !done)
      return std::unexpected("bridge round trip: " + done.error());
    times.bridge.push_back(elapsed_ms(started));
    started = Clock::now();
    if (auto done = replace_file(path, i); !done) return std::unexpected("file write: " + done.error());
    times.file.push_back(elapsed_ms(started));
  }
  return times;
}

double median(std::vector<double> millis) {
  std::sort(millis.begin(), millis.end());
  return millis[millis.size() / 2];
}

int usage() {
  std::fputs("usage: ble-bench-set-parts --iterations N --file PATH\n", stderr);
  return 2;
}

int fail(const std::string& why) {
  std::fprintf(stderr, "Error: %s\n", why.c_str());
  return 1;
}

int measure(unsigned iterations, const std::string& path) {
  // The bridge is called on a connection of its own, so that part holds no connection set-up.
  auto connection = dbus::BusConnection::open_system_bus();
  if (!connection) return fail("connection set-up: " + connection.error().text());
  auto times = time_parts(iterations, *connection, path);
  if (!times) return fail(times.error());
  const double connect = median(times->connect);
  const double bridge = median(times->bridge);
  const double file = median(times->file);
  std::printf("iterations=%u connect_ms=%.3f bridge_ms=%.3f file_ms=%.3f sum_ms=%.3f\n", iterations, connect, bridge,
              file, connect + bridge + file);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "--iterations" || std::string_view(argv[3]) != "--file") return usage();
  unsigned iterations = 0;
  const std::string_view count = argv[2];
  const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), iterations);
  if (ec != std::errc{} || end != count.data() + count.size() || iterations == 0) return usage();
  const int status = measure(iterations, argv[4]);
  dbus::shutdown();
  return status;
}
