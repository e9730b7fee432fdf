// hcitool-bridge: owns com.orbo.ZozovoZorOrevov, sends one HCI command per call, and sends the
// last accepted one again whenever its controller powers on.
#include <poll.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_interface.hpp"
#include "bridge/bridge_object.hpp"
#include "bridge/call_log.hpp"
#include "bridge/concat.hpp"
#include "bridge/options.hpp"
#include "bridge/power_memory.hpp"
#include "bridge/power_watch.hpp"
#include "bridge/send_command.hpp"
#include "dbus/bus_connection.hpp"
#include "tree/object_tree.hpp"

namespace {

int report(std::string_view message) {
  std::fprintf(stderr, "Error: %.*s\n", static_cast<int>(message.size()), message.data());
  return 1;
}

void log_line(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// RequestName without queueing: anything but primary ownership is a refusal, because a queued
// bridge would sit silently behind another process that answers for the radio. BLOCKS up to 5 s.
std::expected<void, std::string> own_name(const dbus::BusConnection& connection, const dbus::BusName& name) {
  const auto refused = [&](std::string_view why) {
    return std::unexpected(bridge::concat("Cannot own ", name.view(), ": ", why));
  };
  const auto answer = connection.request_name(name, dbus::name_flag::do_not_queue);
  if (!answer) return refused(answer.error().text());
  switch (*answer) {
    case dbus::name_reply::primary_owner:
    case dbus::name_reply::already_owner: return {};
    case dbus::name_reply::exists: return refused("another process owns it");
    default: return refused(bridge::concat("unexpected RequestName reply ", *answer));
  }
}

std::optional<bridge::PowerWatch> open_watch(const bridge::BridgeOptions& options) {
  auto watch = options.simulate ? bridge::PowerWatch::simulated() : bridge::PowerWatch::kernel();
  if (watch) return std::move(*watch);
  log_line(bridge::concat("Not watching for controller power-on (", watch.error(), "): levels are not restored"));
  return std::nullopt;
}

// One line per restore, whatever came of it; a refusal is reported, not retried.
// BLOCKS for up to the answer time limit, like a call.
void restore(const bridge::BridgeOptions& options, const bridge::HciCommand& command) {
  const auto control = options.simulate && options.control ? bridge::load_control(*options.control)
                                                           : std::expected<bridge::SimulationControl, std::string>{};
  const std::string what = bridge::concat(command.controller, " powered on: ");
  const std::string sent = bridge::call_log_line(command);
  if (!control) return log_line(what + "cannot restore " + sent + ": " + control.error());
  auto answer = bridge::send_command(options, command, *control);
  if (!answer) return log_line(what + "cannot restore " + sent + ": " + answer.error());
  const int status = static_cast<std::int8_t>(answer->status);
  if (status != 0) return log_line(bridge::concat(what, "the controller refused ", sent, " with status ", status));
  log_line(what + "restored " + sent);
}

void restore_powered_on(bridge::PowerWatch& watch, const bridge::PowerMemory& memory,
                        const bridge::BridgeOptions& options) {
  auto controllers = watch.powered_on();
  if (!controllers) return log_line("Cannot read controller events: " + controllers.error());
  for (const auto& controller : *controllers) {
    if (!controller) {  // the emulated controller: every remembered one
      for (const auto& command : memory.all()) restore(options, command);
    } else if (const auto* command = memory.last_for(*controller)) {
      restore(options, *command);
    }
  }
}

// BLOCKS up to 1 s, or until the bus or the watch has something; a message already queued is
// served at once. What is waiting on the watch is handled after at most one bus message.
bool wait(dbus::BusConnection& connection, const std::optional<bridge::PowerWatch>& watch) {
  if (connection.has_queued_messages()) return false;
  pollfd ready[2] = {
      {connection.unix_fd(), static_cast<short>(POLLIN | (connection.has_messages_to_send() ? POLLOUT : 0)), 0},
      {watch ? watch->fd() : -1, POLLIN, 0}};
  if (::poll(ready, 2, 1000) <= 0) return false;
  return (ready[1].revents & POLLIN) != 0;
}

int serve(const bridge::BridgeOptions& options) {
  // Watching first: once the name is ours, a power-on (or the emulator's signal) is not missed.
  auto watch = open_watch(options);
  auto connection = dbus::BusConnection::open_system_bus();
  if (!connection) return report(connection.error().text());
  if (auto owned = own_name(*connection, dbus::BusName::from_constant(bridge::bridge_bus_name)); !owned)
    return report(owned.error());

  bridge::PowerMemory memory(bridge::power_memory_file(std::getenv("STATE_DIRECTORY")));
  tree::attach(bridge::bridge_tree({options, &*connection, &memory}), *connection);
  for (;;) {
    const bool powered_on = wait(*connection, watch);
    if (auto step = connection->process_one(0); !step) return report(step.error().text());
    if (powered_on) restore_powered_on(*watch, memory, options);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A caller that hangs up before its reply must not take the bridge with it.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto options = bridge::parse_options(args);
  if (!options) return report(options.error());
  if (options->help) {
    std::fputs(bridge::help_text().data(), stdout);
    return 0;
  }
  const int status = serve(*options);
  dbus::shutdown();
  return status;
}
