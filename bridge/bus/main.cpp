// hcitool-bridge: owns com.orbo.ZozovoZorOrevov, sets a controller's transmit power for each
// call, and sets the service's level again whenever its controller powers on.
#include <poll.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bus/bridge_object.hpp"
#include "bridge/bus/caller_check.hpp"
#include "bridge/bus/options.hpp"
#include "bridge/concat.hpp"
#include "bridge/log.hpp"
#include "bridge/memory/power_memory.hpp"
#include "bridge/memory/power_watch.hpp"
#include "bridge/memory/state_file.hpp"
#include "bridge/schedule/clock.hpp"
#include "bridge/schedule/scheduler.hpp"
#include "bridge/transport/child_reaper.hpp"
#include "bridge/transport/hci_socket.hpp"
#include "bridge/transport/hcitool.hpp"
#include "bridge/transport/simulation.hpp"
#include "contract/bridge_interface.hpp"
#include "dbus/bus_connection.hpp"
#include "tree/object_tree.hpp"

namespace {

int report(std::string_view message) {
  std::fprintf(stderr, "Error: %.*s\n", static_cast<int>(message.size()), message.data());
  return 1;
}

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
  bridge::log_to_standard_error(
      bridge::concat("Not watching for controller power-on (", watch.error(), "): levels are not restored"));
  return std::nullopt;
}

std::unique_ptr<bridge::Transport> open_transport(const bridge::BridgeOptions& options) {
  if (options.simulate) {
    if (!options.control)
      return std::make_unique<bridge::SimulatedControllers>(
          [](const bridge::TransmitPower&) { return std::expected<bridge::SimulationControl, std::string>{}; });
    return std::make_unique<bridge::SimulatedControllers>(bridge::control_file(*options.control));
  }
  if (!options.hcitool) return std::make_unique<bridge::HciSocketTransport>();
  auto reaper = bridge::ChildReaper::adopt_orphans();
  if (!reaper)
    bridge::log_to_standard_error(
        bridge::concat("Cannot take over what the tool leaves running (", reaper.error(), "): only its group ends"));
  return std::make_unique<bridge::HcitoolTransport>(*options.hcitool,
                                                    reaper ? std::optional(std::move(*reaper)) : std::nullopt);
}

void restore_powered_on(bridge::PowerWatch& watch, bridge::Scheduler& scheduler) {
  auto controllers = watch.powered_on();
  if (!controllers) return bridge::log_to_standard_error("Cannot read controller events: " + controllers.error());
  for (const auto& controller : *controllers) {
    if (controller) scheduler.powered_on(*controller);
    else scheduler.all_powered_on();  // the emulated controller's: every remembered one
  }
}

// BLOCKS until the bus, the watch or an exchange has something, or the scheduler's next time
// comes; not at all when a message is already queued. Whether the watch has something.
bool wait(dbus::BusConnection& connection, const std::optional<bridge::PowerWatch>& watch,
          const bridge::Scheduler& scheduler) {
  pollfd ready[2] = {
      {connection.unix_fd(), static_cast<short>(POLLIN | (connection.has_messages_to_send() ? POLLOUT : 0)), 0},
      {watch ? watch->fd() : -1, POLLIN, 0}};
  // With nothing due, the second only bounds what a lost wake-up could cost.
  scheduler.wait(ready, connection.has_queued_messages() ? std::chrono::milliseconds(0) : std::chrono::seconds(1));
  return (ready[1].revents & POLLIN) != 0;
}

int serve(const bridge::BridgeOptions& options) {
  // Watching first: once the name is ours, a power-on (or the emulator's signal) is not missed.
  auto watch = open_watch(options);
  auto transport = open_transport(options);
  auto connection = dbus::BusConnection::open_system_bus();
  if (!connection) return report(connection.error().text());
  if (auto owned = own_name(*connection, dbus::BusName::from_constant(contract::bridge_bus_name)); !owned)
    return report(owned.error());

  const bridge::SteadyClock clock;
  bridge::PowerMemory memory(bridge::state_file_path(std::getenv("STATE_DIRECTORY")), bridge::log_to_standard_error);
  bridge::Scheduler scheduler(clock, *transport, memory, bridge::log_to_standard_error, options.log);
  bridge::CallerCheck callers(*connection);
  tree::attach(bridge::bridge_tree({options, &*connection, &scheduler, &clock, &callers}), *connection);
  for (;;) {
    const bool powered_on = wait(*connection, watch, scheduler);
    if (powered_on) restore_powered_on(*watch, scheduler);
    scheduler.step();
    if (auto pumped = connection->process_one(std::chrono::milliseconds(0)); !pumped)
      return report(pumped.error().text());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A caller that hangs up before its reply must not take the bridge with it.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto options = bridge::parse_options(args);
  if (!options) return report(options.error());
  if (options->help || options->version) {
    const std::string text = options->help ? std::string(bridge::help_text()) : "hcitool-bridge " BLE_VERSION "\n";
    return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
  }
  const int status = serve(*options);
  dbus::shutdown();
  return status;
}
