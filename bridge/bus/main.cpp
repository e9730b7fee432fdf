// hcitool-bridge: owns com.orbo.ZozovoZorOrevov, sets a controller's transmit power for each
// call, and sets the service's level again whenever its controller powers on.
#include <poll.h>

#include <algorithm>
#include <chrono>

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
#include "bridge/memory/controller_watch.hpp"
#include "bridge/memory/power_memory.hpp"
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

std::optional<bridge::ControllerWatch> open_watch(const bridge::BridgeOptions& options) {
  auto watch = options.simulate ? bridge::ControllerWatch::simulated() : bridge::ControllerWatch::kernel();
  if (watch) return std::move(*watch);
  bridge::log_to_standard_error(
      bridge::concat("Not watching the controllers (", watch.error(), "): levels are not restored"));
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

void take_events(bridge::ControllerWatch& watch, bridge::Scheduler& scheduler) {
  const auto seen = watch.events();
  using Kind = bridge::ControllerEvent::Kind;
  for (const auto& event : seen.events) {
    if (!event.controller) {
      scheduler.all_powered_on();  // the emulated controller's: every remembered one
      continue;
    }
    switch (event.kind) {
      case Kind::powered_on: scheduler.powered_on(*event.controller); break;
      case Kind::powered_off: scheduler.powered_off(*event.controller); break;
      case Kind::reset: scheduler.was_reset(*event.controller); break;
      case Kind::kernel_sent: scheduler.kernel_sent(*event.controller, event.opcode); break;
      case Kind::kernel_answered: scheduler.kernel_answered(*event.controller, event.opcode); break;
    }
  }
  if (seen.error) bridge::log_to_standard_error("Cannot read controller events: " + *seen.error);
}

// BLOCKS until the bus, the watch or an exchange has something, or the scheduler's or the caller
// check's next time comes; not at all when a message is already queued. Whether the watch may
// have something.
bool wait(dbus::BusConnection& connection, const std::optional<bridge::ControllerWatch>& watch,
          const bridge::Scheduler& scheduler, const bridge::CallerCheck& callers) {
  std::vector<pollfd> ready{
      {connection.unix_fd(), static_cast<short>(POLLIN | (connection.has_messages_to_send() ? POLLOUT : 0)), 0}};
  if (watch)
    for (const int fd : watch->fds()) ready.push_back({fd, POLLIN, 0});
  // With nothing due, the second only bounds what a lost wake-up could cost.
  std::chrono::milliseconds longest =
      connection.has_queued_messages() ? std::chrono::milliseconds(0) : std::chrono::seconds(1);
  const auto now = std::chrono::steady_clock::now();
  if (const auto due = callers.wake_time())
    longest =
        std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*due - now), std::chrono::milliseconds(0), longest);
  scheduler.wait(ready, longest);
  return std::any_of(ready.begin() + 1, ready.end(), [](const pollfd& entry) { return entry.revents != 0; });
}

// The daemon's answers to the caller check's questions, and nothing else from it.
void receive_answers(dbus::BusConnection& connection, bridge::CallerCheck& callers) {
  for (const auto type : {dbus::MessageType::method_return, dbus::MessageType::error})
    connection.add_receiver({.type = type, .sender = std::string(dbus::bus_daemon_name)},
                            [&callers](dbus::Message reply, dbus::BusConnection&) {
                              callers.take_reply(reply);
                              return true;
                            });
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
  bridge::PowerMemory memory;
  bridge::Scheduler scheduler(clock, *transport, memory, bridge::log_to_standard_error, options.log);
  bridge::CallerCheck callers(*connection);
  receive_answers(*connection, callers);
  tree::attach(bridge::bridge_tree({options, &*connection, &scheduler, &callers}), *connection);
  for (;;) {
    if (wait(*connection, watch, scheduler, callers)) take_events(*watch, scheduler);
    callers.expire(clock.now());
    scheduler.step();
    // Every message read is handled now: none waits behind another for its turn.
    do {
      if (auto pumped = connection->process_one(std::chrono::milliseconds(0)); !pumped)
        return report(pumped.error().text());
    } while (connection->has_queued_messages());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A caller that hangs up before its reply must not take the bridge with it.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto options = bridge::parse_options(args);
  if (!options) {
    report(options.error() + " (see hcitool-bridge --help)");
    return 2;  // a usage error, as for every program of this system
  }
  if (options->help || options->version) {
    const std::string text = options->help ? std::string(bridge::help_text()) : "hcitool-bridge " BLE_VERSION "\n";
    return std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
  }
  const int status = serve(*options);
  dbus::shutdown();
  return status;
}
