/* Reads, sets and watches the Bluetooth LE range of ble-ranged with sdbus-c++, through a proxy
 * that sdbus-c++-xml2cpp writes from the installed interface description.
 *
 *   range_client get         print the level
 *   range_client set LEVEL   set it (as root or a member of the administrators' group); LEVEL is a
 *                            whole decimal number, anything else is refused before any call
 *   range_client watch       print the level, then each new one, until SIGINT or SIGTERM
 *
 * Debian: apt install libsdbus-c++-dev libsdbus-c++-bin, then, in any directory (the proxy is
 * written there; name range_client.cpp by its path):
 *   sdbus-c++-xml2cpp --proxy=range-proxy.h /usr/share/dbus-1/interfaces/com.orbo.Configuration.Legacy.xml
 *   c++ -std=c++17 -I. -o range_client range_client.cpp $(pkg-config --cflags --libs sdbus-c++)
 * Before installing, the source tree holds the same description:
 * packaging/dbus/com.orbo.Configuration.Legacy.xml. The generator (1.2) knows
 * none of the documentation annotations in it and says so for each ("Option
 * 'org.gtk.GDBus.DocString' not allowed or supported in this context! Option ignored..."); the
 * proxy is written all the same, and the documentation is read in the XML itself.
 * sd-bus, below sdbus-c++, takes the system bus from DBUS_SYSTEM_BUS_ADDRESS when set.
 */
#include <pthread.h>
#include <signal.h>

#include <sdbus-c++/sdbus-c++.h>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "range-proxy.h"

namespace {

const char* const service_name = "com.orbo.RIDEviva";
const char* const object_path = "/com/orbo/RIDEviva";

// The generated Range() getter and setter, and the changes that PropertiesChanged announces.
class RangeProxy final
    : public sdbus::ProxyInterfaces<com::orbo::Configuration::Legacy_proxy, sdbus::Properties_proxy> {
 public:
  RangeProxy(sdbus::IConnection& connection, std::function<void(int32_t)> on_change)
      : ProxyInterfaces(connection, service_name, object_path), on_change_(std::move(on_change)) {
    registerProxy();
  }
  RangeProxy(const RangeProxy&) = delete;
  RangeProxy& operator=(const RangeProxy&) = delete;
  ~RangeProxy() { unregisterProxy(); }

 private:
  void onPropertiesChanged(const std::string& interface, const std::map<std::string, sdbus::Variant>& changed,
                           const std::vector<std::string>&) override {
    const auto range = changed.find("Range");
    if (interface != Legacy_proxy::INTERFACE_NAME || range == changed.end()) return;
    if (range->second.containsValueOfType<int32_t>()) on_change_(range->second.get<int32_t>());
  }

  std::function<void(int32_t)> on_change_;
};

void print_level(int32_t level) {
  std::printf("%d\n", level);
  std::fflush(stdout);
}

// LEVEL as a whole decimal number, with at most one sign, that fits the property's INT32; the
// service itself refuses levels outside 0 to 30. std::stoi would take " 12", "12abc" for 12,
// and throw for the rest.
std::optional<int32_t> level_from(const std::string& text) {
  const std::size_t first = text.size() > 0 && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (first == text.size()) return std::nullopt;
  long long value = 0;
  for (std::size_t i = first; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
  }
  if (text[0] == '-') value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(value);
}

// The level, then each change, until SIGINT or SIGTERM. Both are blocked before the event loop's
// thread starts, so that they wait for sigwait here instead of ending the program.
void watch(sdbus::IConnection& connection) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  RangeProxy proxy(connection, print_level);  // subscribed from here on
  print_level(proxy.Range());                 // only now: a change in between is not missed
  connection.enterEventLoopAsync();
  int signal_number = 0;
  sigwait(&stops, &signal_number);
  connection.leaveEventLoop();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // The command line is checked whole before the bus is touched.
  std::optional<int32_t> level;
  if (arguments.size() == 2 && arguments[0] == "set") {
    level = level_from(arguments[1]);
    if (!level) {
      std::fprintf(stderr, "Error: LEVEL must be a whole decimal number, such as 25, not \"%s\"\n",
                   arguments[1].c_str());
      return 2;
    }
  } else if (arguments != std::vector<std::string>{"get"} && arguments != std::vector<std::string>{"watch"}) {
    std::fprintf(stderr, "Usage: %s get | set LEVEL | watch\n", argv[0]);
    return 2;
  }
  try {
    auto connection = sdbus::createSystemBusConnection();
    if (arguments[0] == "watch") {
      watch(*connection);
    } else if (level) {
      RangeProxy(*connection, [](int32_t) {}).Range(*level);
    } else {
      print_level(RangeProxy(*connection, [](int32_t) {}).Range());
    }
  } catch (const sdbus::Error& error) {
    // The D-Bus error name, say org.freedesktop.DBus.Error.InvalidArgs for a level out of range.
    std::fprintf(stderr, "Error: %s: %s\n", error.getName().c_str(), error.getMessage().c_str());
    return 1;
  }
  return 0;
}
