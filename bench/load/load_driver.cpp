#include "bench/load/load_driver.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace bench {

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
    auto connection = open_system_bus();
    if (!connection) return std::unexpected(connection.error());
    Lane lane;
    if (!dbus_connection_get_unix_fd(connection->get(), &lane.fd))
      return std::unexpected(std::string("the bus connection has no socket to wait on"));
    lane.connection = std::move(*connection);
    driver.lanes_.push_back(std::move(lane));
  }
  return driver;
}

void LoadDriver::send_next(Lane& lane, Phase& phase) {
  MessageRef call = phase.plan.request(next_index_++);
  dbus_uint32_t serial = 0;
  const auto sent_at = Clock::now();
  if (!dbus_connection_send(lane.connection.get(), call.get(), &serial)) out_of_memory("dbus_connection_send");
  lane.pending.push_back({serial, sent_at});
  ++phase.sent;
}

std::expected<void, std::string> LoadDriver::take_replies(Lane& lane, Phase& phase) {
  // Reads and writes whatever the socket allows without waiting.
  if (!dbus_connection_read_write(lane.connection.get(), 0))
    return std::unexpected(std::string("the bus connection was lost"));
  while (MessageRef message{dbus_connection_pop_message(lane.connection.get())}) {
    const int type = dbus_message_get_type(message.get());
    if (type != DBUS_MESSAGE_TYPE_METHOD_RETURN && type != DBUS_MESSAGE_TYPE_ERROR) continue;  // e.g. NameAcquired
    const auto arrived = Clock::now();
    const dbus_uint32_t serial = dbus_message_get_reply_serial(message.get());
    const auto call = std::find_if(lane.pending.begin(), lane.pending.end(),
                                   [serial](const Pending& p) { return p.serial == serial; });
    if (call == lane.pending.end())
      return std::unexpected("reply to serial " + std::to_string(serial) + ", which is not a call in flight");
    phase.result.latencies.add(arrived - call->sent_at);
    lane.pending.erase(call);
    if (auto checked = phase.plan.check(message.get()); !checked)
      return std::unexpected("wrong reply to call " + std::to_string(phase.answered + 1) + ": " + checked.error());
    ++phase.answered;
    if (phase.sent < phase.calls) send_next(lane, phase);
  }
  return {};
}

// BLOCKS up to timeout_ms until a connection has something to read (or to write).
std::expected<void, std::string> LoadDriver::wait_for_traffic(int timeout_ms, std::uint64_t outstanding) {
  fds_.clear();
  for (const Lane& lane : lanes_) {
    short events = POLLIN;
    if (dbus_connection_has_messages_to_send(lane.connection.get())) events |= POLLOUT;
    fds_.push_back({lane.fd, events, 0});
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
  for (Lane& lane : lanes_)
    while (lane.pending.size() < depth && phase.sent < calls) send_next(lane, phase);
  while (phase.answered < calls) {
    if (auto waited = wait_for_traffic(timeout_ms, phase.sent - phase.answered); !waited)
      return std::unexpected(waited.error());
    for (std::size_t i = 0; i < lanes_.size(); ++i) {
      if (fds_[i].revents == 0) continue;
      if (auto taken = take_replies(lanes_[i], phase); !taken) return std::unexpected(taken.error());
    }
  }
  phase.result.wall = Clock::now() - started;
  phase.result.calls = phase.answered;
  return std::move(phase.result);
}

}  // namespace bench
