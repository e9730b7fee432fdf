// ble-rangectl: shows, sets and watches the Bluetooth LE transmit range that ble-ranged keeps,
// over the system bus. Each kind of failure has an exit status of its own (ctl/failure.hpp).
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "contract/range_interface.hpp"
#include "ctl/command_line.hpp"
#include "ctl/failure.hpp"
#include "ctl/range_client.hpp"
#include "ctl/stop_signals.hpp"
#include "dbus/bus_connection.hpp"

namespace {

using ctl::Command;
namespace exit_status = ctl::exit_status;

constexpr std::string_view help =
    "Usage: ble-rangectl [--system] [status]\n"
    "       ble-rangectl [--system] set LEVEL\n"
    "       ble-rangectl [--system] watch\n"
    "       ble-rangectl -h | --help | --version\n"
    "Shows and sets the Bluetooth LE transmit range that ble-ranged keeps for controller hci0:\n"
    "a level from 0 to 30, the transmit power in dBm plus 20.\n"
    "\n"
    "Commands:\n"
    "  status     show the level and its power (the default)\n"
    "  set LEVEL  set the level, as root or a member of the group " BLE_ADMIN_GROUP
    ";\n"
    "             a negative LEVEL needs no \"--\"\n"
    "  watch      show the level, then each change, until interrupted\n"
    "\n"
    "Options:\n"
    "  --system    the system bus (the default; DBUS_SYSTEM_BUS_ADDRESS names another)\n"
    "  -h, --help  show this text and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 usage error, 3 level refused by the service,\n"
    "4 not permitted, 5 ble-ranged not running. See ble-rangectl(1).\n";

int print(std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
  return written ? exit_status::ok : exit_status::failed;
}

int complain(int status, std::string_view message) {
  std::fprintf(stderr, "Error: %.*s\n", static_cast<int>(message.size()), message.data());
  return status;
}

int complain(const ctl::Failure& failure) { return complain(failure.status, failure.message); }

// "Range: 25 (5 dBm)". Computed wide: a level the service would never hold still prints truly.
std::string range_line(std::int32_t level) {
  const long long power = static_cast<long long>(level) + contract::level_to_power;
  return "Range: " + std::to_string(level) + " (" + std::to_string(power) + " dBm)\n";
}

int status(const dbus::BusConnection& connection) {
  const auto level = ctl::read_range(connection);  // BLOCKS up to the call timeout
  if (!level) return complain(ctl::failure_of("read the range", level.error()));
  return print(range_line(*level));
}

int set(const dbus::BusConnection& connection, std::int32_t level) {
  // BLOCKS up to the call timeout, the service's radio call included.
  if (auto taken = ctl::set_range(connection, level); !taken) {
    return complain(ctl::failure_of("set the range to " + std::to_string(level), taken.error()));
  }
  return exit_status::ok;
}

int watch(dbus::BusConnection& connection) {
  auto stop = ctl::StopSignals::open();
  if (!stop) return complain(exit_status::failed, "cannot wait for SIGINT and SIGTERM: " + stop.error());
  // BLOCKS until SIGINT or SIGTERM, or the loss of the bus.
  auto watched = ctl::watch_range(connection, stop->fd(), [](std::int32_t level) { (void)print(range_line(level)); });
  if (!watched) return complain(ctl::failure_of("watch the range", watched.error()));
  return exit_status::ok;
}

int run(const ctl::Request& request) {
  // BLOCKS while connecting. libdbus reads DBUS_SYSTEM_BUS_ADDRESS itself.
  auto connection = dbus::BusConnection::open_system_bus();
  if (!connection) return complain(ctl::connection_failure(connection.error()));
  switch (request.command) {
    case Command::set: return set(*connection, request.level);
    case Command::watch: return watch(*connection);
    default: return status(*connection);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto request = ctl::read_command_line(arguments);
  if (!request) return complain(exit_status::usage, request.error() + " (see ble-rangectl --help)");
  if (request->command == Command::help) return print(help);
  if (request->command == Command::version) return print("ble-rangectl " BLE_VERSION "\n");
  const int status = run(*request);
  dbus::shutdown();  // every connection and message is gone by now
  return status;
}
