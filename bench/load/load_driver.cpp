#include "bench/load/load_driver.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bench {
namespace {

constexpr const char* unqueued = "the bus connection could not queue a call";

}  // namespace

struct LoadDriver::Phase {
  CallPlan& plan;
  std::uint64_t calls;
  unsigned depth;
  std::uint64_t sent = 0;
  std::uint64_t answered = 0;
  PhaseResult result;
};

std::expected<LoadDriver, std::string> LoadDriver::connect(unsigned connections) {
  LoadDriver driver;
  for (unsigned i = 0; i < connections; ++i) {
    auto connection = dbus::BusConnection::open_system_bus();
    if (!connection) return std::unexpected(connection.error().text());
    auto lane = std::make_unique<Lane>(std::move(*connection));
    lane->fd = lane->connection.unix_fd();
    if (lane->fd < 0) return std::unexpected(std::string("the bus connection has no socket to wait on"));
    lane->connection.add_receiver({}, [arrived = &lane->arrived](dbus::Message message, dbus::BusConnection&) {
      arrived->emplace_back(std::move(message), Clock::now());
      return true;
    });
    driver.lanes_.push_back(std::move(lane));
  }
  return driver;
}

bool LoadDriver::send_next(Lane& lane, Phase& phase) {
  dbus::Message call = phase.plan.request(next_index_++);
  const auto sent_at = Clock::now();
  lane.connection.send(call);
  // The connection numbers what it queues; a call it could not queue stays unnumbered.
  if (call.serial() == 0) return false;
  lane.pending.push_back({call.serial(), sent_at});
  ++phase.sent;
  return true;
}

std::expected<void, std::string> LoadDriver::take_replies(Lane& lane, Phase& phase) {
  // Reads and writes whatever the socket allows without waiting, and takes every message read.
  do {
    if (!lane.connection.process_one(std::chrono::milliseconds(0)))
      return std::unexpected(std::string("the bus connection was lost"));
  } while (lane.connection.has_queued_messages());
  for (; !lane.arrived.empty(); lane.arrived.pop_front()) {
    const auto& [message, arrived] = lane.arrived.front();
    const dbus::MessageType type = message.type();
    if (type != dbus::MessageType::method_return && type != dbus::MessageType::error) continue;  // e.g. NameAcquired
    const std::uint32_t serial = message.reply_serial();
    const auto call = std::find_if(lane.pending.begin(), lane.pending.end(),
                                   [serial](const Pending& p) { return p.serial == serial; });
    if (call == lane.pending.end())
      return std::unexpected("reply to serial " + std::to_string(serial) + ", which is not a call in flight");
    phase.result.latencies.add(arrived - call->sent_at);
    lane.pending.erase(call);
    if (auto checked = phase.plan.check(message); !checked)
      return std::unexpected("wrong reply to call " + std::to_string(phase.answered + 1) + ": " + checked.error());
    ++phase.answered;
    if (phase.sent < phase.calls && !send_next(lane, phase)) return std::unexpected(unqueued);
  }
  return {};
}

// BLOCKS up to timeout_ms until a connection has something to read (or to write).
std::expected<void, std::string> LoadDriver::wait_for_traffic(int timeout_ms, std::uint64_t outstanding) {
  fds_.clear();
  for (const auto& lane : lanes_) {
    short events = POLLIN;
    if (lane->connection.has_messages_to_send()) events |= POLLOUT;
    fds_.push_back({lane->fd, events, 0});
  }
  int ready = 0;
  do {
    ready = poll(fds_.data(), fds_.size(), timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return std::unexpected(std::string("poll failed: ") + std::strerror(errno));
  if (ready == 0)
    return std::unexpected("no reply within " + std::to_string(timeout_ms) + " ms (" + std::to_string(outstanding) +
                           " calls unanswered)");
  return {};
}

std::expected<PhaseResult, std::string> LoadDriver::run(CallPlan& plan, std::uint64_t calls, unsigned depth,
                                                        int timeout_ms) {
  Phase phase{plan, calls, depth, 0, 0, {}};
  phase.result.latencies.reserve(calls);
  const auto started = Clock::now();
  for (auto& lane : lanes_)
    while (lane->pending.size() < depth && phase.sent < calls)
      if (!send_next(*lane, phase)) return std::unexpected(unqueued);
  while (phase.answered < calls) {
    if (auto waited = wait_for_traffic(timeout_ms, phase.sent - phase.answered); !waited)
      return std::unexpected(waited.error());
    for (std::size_t i = 0; i < lanes_.size(); ++i) {
      if (fds_[i].revents == 0) continue;
      if (auto taken = take_replies(*lanes_[i], phase); !taken) return std::unexpected(taken.error());
    }
  }
  phase.result.wall = Clock::now() - started;
  phase.result.calls = phase.answered;
  return std::move(phase.result);
}

}  // namespace bench
