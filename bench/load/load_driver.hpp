#pragma once
// Keeps a fixed number of calls in flight on several private connections from one thread.
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/load/call_plan.hpp"
#include "bench/load/latency.hpp"
#include "dbus/bus_connection.hpp"

namespace bench {

struct PhaseResult {
  std::uint64_t calls = 0;
  std::chrono::nanoseconds wall{0};  // first send to last reply
  LatencyRecord latencies;
};

class LoadDriver {
 public:
  // BLOCKS while the connections are made.
  static std::expected<LoadDriver, std::string> connect(unsigned connections);

  // Sends `calls` requests with up to `depth` unanswered on each connection and checks every
  // reply; the first wrong reply, a lost connection or `timeout_ms` without any reply ends it.
  std::expected<PhaseResult, std::string> run(CallPlan& plan, std::uint64_t calls, unsigned depth, int timeout_ms);

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    std::uint32_t serial;
    Clock::time_point sent_at;
  };
  struct Lane {
    explicit Lane(dbus::BusConnection opened) : connection(std::move(opened)) {}
    dbus::BusConnection connection;
    int fd = -1;
    std::vector<Pending> pending;
    std::deque<std::pair<dbus::Message, Clock::time_point>> arrived;  // with the time each was read
  };
  struct Phase;

  LoadDriver() = default;
  bool send_next(Lane& lane, Phase& phase);
  std::expected<void, std::string> take_replies(Lane& lane, Phase& phase);
  std::expected<void, std::string> wait_for_traffic(int timeout_ms, std::uint64_t outstanding);

  std::vector<std::unique_ptr<Lane>> lanes_;  // each where its connection's receiver finds it
  std::vector<pollfd> fds_;                   // one per lane, refilled before each wait
  std::uint64_t next_index_ = 0;              // across phases, so Set keeps alternating
};

}  // namespace bench
