// ble-rangectl: shows, sets and watches the Bluetooth LE transmit range that ble-ranged keeps,
// over the system bus. Each kind of failure has an exit status of its own (ctl/failure.hpp).
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctl/command_line.hpp"
#include "ctl/deadline.hpp"
#include "ctl/failure.hpp"
#include "ctl/range_client.hpp"
#include "ctl/report.hpp"
#include "ctl/service_state.hpp"
#include "ctl/standard_streams.hpp"
#include "ctl/stop_signals.hpp"
#include "ctl/timestamp.hpp"
#include "dbus/bus_connection.hpp"

namespace {

using ctl::Command;
namespace exit_status = ctl::exit_status;

constexpr std::string_view help =
    "Usage: ble-rangectl [OPTIONS] [status]\n"
    "       ble-rangectl [OPTIONS] get\n"
    "       ble-rangectl [OPTIONS] show [-p NAME[,NAME...]] [--value]\n"
    "       ble-rangectl [OPTIONS] set LEVEL\n"
    "       ble-rangectl [OPTIONS] watch [--no-timestamps]\n"
    "       ble-rangectl help | -h | --help | --version\n"
    "Shows and sets the Bluetooth LE transmit range that ble-ranged keeps for controller hci0:\n"
    "a level from 0 to 30, the transmit power in dBm plus 20.\n"
    "\n"
    "Commands:\n"
    "  status     show the level and its power (the default)\n"
    "  get        print the level alone, for scripts\n"
    "  show       print NAME=VALUE lines: Range, Power, StoredRange (the level in\n"
    "             /etc/wireless/bluetooth.conf), Running (yes or no), UniqueName\n"
    "  set LEVEL  set the level, as root or a member of the group " BLE_ADMIN_GROUP
    ";\n"
    "             a whole number, \"+5\" and \"-1\" included (no \"--\" needed)\n"
    "  watch      show the level, then each change, and when ble-ranged stops and\n"
    "             starts again, until interrupted; each line starts with its time\n"
    "  help       show this text\n"
    "\n"
    "Options:\n"
    "  --system             the system bus (the default; DBUS_SYSTEM_BUS_ADDRESS names another)\n"
    "  --json=MODE          status, get, show, watch: JSON, MODE short (one line per object),\n"
    "                       pretty or off\n"
    "  -p, --property=NAME  show: only these properties (repeated, or separated by commas)\n"
    "  --value              show: the values alone, without NAME=\n"
    "  --no-timestamps      watch: lines without their time\n"
    "  --timeout=TIME       give up after TIME, connecting included (watch: until its first\n"
    "                       line): seconds, or such as 500ms, 2.5s, 1min, or infinity\n"
    "                       (default 10s)\n"
    "  -q, --quiet          no warnings, errors only\n"
    "  --no-pager           accepted; nothing is ever paged\n"
    "  -h, --help           show this text and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 usage error, 3 level refused by the service,\n"
    "4 not permitted, 5 ble-ranged (or for set, hcitool-bridge) not running, 6 set sent but\n"
    "its outcome not known (no answer in time, or interrupted: ble-rangectl get tells the\n"
    "level). See ble-rangectl(1).\n";

void tell(std::string_view kind, std::string_view message) {
  std::string line(kind);
  ctl::write_error_line(line.append(": ").append(message));
}

int complain(int status, std::string_view message) {
  tell("Error", message);
  return status;
}

int complain(const ctl::Failure& failure) { return complain(failure.status, failure.message); }

// As coreutils do: output that cannot be written is a failure, told on standard error.
int print(std::string_view text) {
  if (auto written = ctl::write_output(text); !written) {
    return complain(exit_status::failed, "cannot write to standard output: " + written.error());
  }
  return exit_status::ok;
}

void warn(const ctl::Request& request, std::string_view message) {
  if (!request.quiet) tell("Warning", message);
}

int status(const ctl::Request& request, dbus::BusConnection& connection, const ctl::Deadline& deadline) {
  const auto level = ctl::read_range(connection, deadline.left());  // BLOCKS until the deadline
  if (!level) return complain(ctl::failure_of("read the range", level.error()));
  return print(ctl::status_report(*level, request.json));
}

int get(const ctl::Request& request, dbus::BusConnection& connection, const ctl::Deadline& deadline) {
  const auto level = ctl::read_range(connection, deadline.left());  // BLOCKS until the deadline
  if (!level) return complain(ctl::failure_of("read the range", level.error()));
  return print(ctl::get_report(*level, request.json));
}

int show(const ctl::Request& request, dbus::BusConnection& connection, const ctl::Deadline& deadline) {
  const auto state = ctl::read_service_state(connection, deadline);  // BLOCKS until the deadline
  if (!state) return complain(ctl::failure_of("read the state of ble-ranged", state.error()));
  if (!state->stored && ctl::shows(request, "StoredRange")) {
    warn(request, "cannot read the stored level: " + state->stored.error());
  }
  return print(ctl::show_report(*state, request));
}

int set(const ctl::Request& request, dbus::BusConnection& connection, const ctl::Deadline& deadline) {
  // Ctrl-C while the answer is awaited is told, not fatal: the level may be taken all the same.
  auto stop = ctl::StopSignals::open();
  if (!stop) return complain(exit_status::failed, "cannot wait for SIGINT and SIGTERM: " + stop.error());
  // BLOCKS until the deadline, the service's radio call included, or SIGINT or SIGTERM.
  auto taken = ctl::set_range(connection, request.level.value.value_or(0), deadline.left(), stop->fd());
  if (taken) return exit_status::ok;
  return complain(ctl::set_failure(request.level.decimal, taken.error(), request.timeout));
}

int watch(const ctl::Request& request, dbus::BusConnection& connection, const ctl::Deadline& deadline) {
  auto stop = ctl::StopSignals::open();
  if (!stop) return complain(exit_status::failed, "cannot wait for SIGINT and SIGTERM: " + stop.error());
  std::optional<std::string> unwritable;
  const auto tell_event = [&](const ctl::WatchEvent& event) {
    if (const auto* unreadable = std::get_if<ctl::LevelUnreadable>(&event)) {
      warn(request, "cannot read the range: " + unreadable->why);
      return true;
    }
    const auto stamp =
        request.timestamps ? std::optional(ctl::timestamp(std::chrono::system_clock::now())) : std::nullopt;
    auto written = ctl::write_output(ctl::watch_report(event, stamp, request.json));
    if (!written) unwritable = written.error();
    return written.has_value();
  };
  // BLOCKS until SIGINT or SIGTERM, output that cannot be written, or the loss of the bus.
  auto watched = ctl::watch_range(connection, stop->fd(), deadline, request.timeout, tell_event);
  if (unwritable) return complain(exit_status::failed, "cannot write to standard output: " + *unwritable);
  if (!watched) return complain(ctl::failure_of("watch the range", watched.error()));
  return exit_status::ok;
}

struct Verb {
  Command command;
  int (*run)(const ctl::Request& request, dbus::BusConnection& connection, const ctl::Deadline& deadline);
};

constexpr Verb verbs[] = {
    {Command::status, status}, {Command::get, get}, {Command::show, show}, {Command::set, set}, {Command::watch, watch},
};

int run(const ctl::Request& request) {
  // No call can carry it: refused here as the service refuses every other level outside its own.
  if (request.command == Command::set && !request.level.value) {
    return complain(ctl::level_beyond_the_bus(request.level.decimal));
  }
  const ctl::Deadline deadline(request.timeout);
  // BLOCKS while connecting, then until the deadline for the daemon's greeting.
  auto connection = dbus::BusConnection::open_system_bus(deadline.left());
  if (!connection) return complain(ctl::connection_failure(connection.error(), request.timeout));
  for (const Verb& verb : verbs) {
    if (verb.command == request.command) return verb.run(request, *connection, deadline);
  }
  return status(request, *connection, deadline);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything opens a descriptor: the bus socket must never become our output.
  if (auto prepared = ctl::prepare_standard_streams(); !prepared)
    return complain(exit_status::failed, prepared.error());
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto request = ctl::read_command_line(arguments);
  if (!request) return complain(exit_status::usage, request.error() + " (see ble-rangectl --help)");
  if (request->command == Command::help) return print(help);
  if (request->command == Command::version) return print("ble-rangectl " BLE_VERSION "\n");
  const int status = run(*request);
  dbus::shutdown();  // every connection and message is gone by now
  return status;
}
