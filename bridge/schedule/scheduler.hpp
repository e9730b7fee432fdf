#pragma once
// The bridge's one piece of state: the calls waiting per controller and their deadlines, the
// exchange in flight on each controller, the restores after power-ons, and the memory of the
// service's levels. The loop asks it what to wait for and steps it; nothing here blocks on a
// controller.
//
// One exchange at a time per controller, since the answers to two transmit-power commands
// cannot be told apart; controllers do not wait for each other. Calls go before a restore of
// their controller; a call that the controller accepts takes the restore's place. Every call is
// answered by its deadline, and nothing is sent for it once that has passed.
#include <poll.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/log.hpp"
#include "bridge/memory/power_memory.hpp"
#include "bridge/schedule/clock.hpp"
#include "bridge/transport/exchange.hpp"

namespace bridge {

struct ScheduleLimits {
  // From a call's arrival to its answer, whatever else is going on. The promise is 4.5 s, under
  // the service's own 5 s; the last 100 ms are left for waking, sending the reply and its way
  // through the bus daemon, so that an answer given up on at the deadline still arrives in time.
  std::chrono::milliseconds call{4400};
  // A restore's exchange; a call that arrives just after one began still has time of its own.
  std::chrono::milliseconds restore{4000};
  // A call with less time left is not sent at all: no answer could come back in time, and a
  // command the caller is told failed should not reach the controller.
  std::chrono::milliseconds least_to_send{100};
  // How long a controller is left to answer a command given up on before the next is sent,
  // unless it powers on first: a late answer would be taken for the next one's. The kernel, too,
  // sends the next command once 2 s have passed without an answer.
  std::chrono::milliseconds settle{2000};
};

struct Call {
  TransmitPower command;
  bool remembered = false;  // from an account given with --allow-user: the service's level
  TimePoint arrival;        // when the bridge took the call off its connection
  // Takes the answer, or the Failed message; called exactly once.
  std::function<void(ExchangeResult)> answer;
};

class Scheduler {
 public:
  // All borrowed, and must outlive the scheduler. Calls that send a command are recorded in
  // `call_log` when one is given.
  Scheduler(const Clock& clock, Transport& transport, PowerMemory& memory, Log log,
            std::optional<std::filesystem::path> call_log = std::nullopt, ScheduleLimits limits = {});
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  const ScheduleLimits& limits() const noexcept { return limits_; }

  // Queues the call behind what its controller is busy with; it starts at once when it can.
  void submit(Call call);
  // The controller has powered on, and so forgotten its transmit power: the remembered power is
  // sent again once the controller is free, unless a call sets one first. Power-ons while a
  // restore waits give that one restore.
  void powered_on(std::string_view controller);
  // Every remembered controller has (the simulated power-on).
  void all_powered_on();

  // What the loop waits for: the exchanges' descriptors, and the nearest time something is due.
  std::vector<int> fds() const;
  std::optional<TimePoint> wake_time() const;
  // The nearest deadline of a call, which a blocking step in front of the loop must not pass.
  std::optional<TimePoint> nearest_deadline() const;
  // Takes what has arrived, answers what has ended or run out of time, starts what can start.
  void step();
  // The loop's wait: BLOCKS until one of `extra` (polled as given; their revents say which) or
  // an exchange's descriptor is ready, or the nearest time comes, at most `longest`.
  void wait(std::span<pollfd> extra, std::chrono::milliseconds longest) const;

 private:
  struct InFlight {
    std::unique_ptr<Exchange> exchange;
    TransmitPower command;
    TimePoint deadline;
    std::optional<Call> call;        // none: a restore
    bool took_over_restore = false;  // a restore was due when the call's command was sent
    bool given_up = false;           // answered; only a late answer, or the deadline, is awaited
  };
  struct Lane {
    std::deque<Call> waiting;
    bool restore_due = false;
    std::optional<InFlight> in_flight;
  };

  Lane& lane(std::string_view controller);
  void advance(const std::string& controller, Lane& queue, TimePoint now);
  void expire_waiting(Lane& queue, TimePoint now) const;
  void start_call(Lane& queue, Call call, TimePoint now);
  void start_restore(const std::string& controller, Lane& queue, TimePoint now);
  void step_in_flight(Lane& queue, TimePoint now);
  void finish(Lane& queue, ExchangeResult result);
  void give_up(Lane& queue, TimePoint now);
  void finish_restore(const TransmitPower& command, const ExchangeResult& result);

  const Clock& clock_;
  Transport& transport_;
  PowerMemory& memory_;
  Log log_;
  std::optional<std::filesystem::path> call_log_;
  ScheduleLimits limits_;
  std::map<std::string, Lane, std::less<>> lanes_;
};

}  // namespace bridge
