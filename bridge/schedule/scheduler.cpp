#include "bridge/schedule/scheduler.hpp"

#include <algorithm>
#include <utility>

#include "bridge/concat.hpp"
#include "bridge/schedule/call_log.hpp"

namespace bridge {
namespace {

void earliest(std::optional<TimePoint>& soonest, std::optional<TimePoint> candidate) {
  if (candidate && (!soonest || *candidate < *soonest)) soonest = candidate;
}

bool accepted(const ExchangeResult& result) { return result && result->status == 0 && !result->instead; }

std::string powered_on_line(const TransmitPower& command, std::string_view what) {
  return concat(command.controller, " powered on: ", what);
}

}  // namespace

Scheduler::Scheduler(const Clock& clock, Transport& transport, PowerMemory& memory, Log log,
                     std::optional<std::filesystem::path> call_log, ScheduleLimits limits)
    : clock_(clock),
      transport_(transport),
      memory_(memory),
      log_(std::move(log)),
      call_log_(std::move(call_log)),
      limits_(limits) {}

Scheduler::Lane& Scheduler::lane(std::string_view controller) {
  auto found = lanes_.find(controller);
  if (found == lanes_.end()) found = lanes_.emplace(std::string(controller), Lane{}).first;
  return found->second;
}

void Scheduler::submit(Call call) {
  const std::string controller = call.command.controller;
  Lane& queue = lane(controller);
  queue.waiting.push_back(std::move(call));
  advance(controller, queue, clock_.now());
}

void Scheduler::powered_on(std::string_view controller) {
  memory_.write_again_if_failed();
  const std::string name(controller);
  Lane& queue = lane(name);
  // The reset that came with the power-on ended what the controller had not answered.
  if (queue.in_flight && queue.in_flight->given_up) queue.in_flight.reset();
  queue.restore_due = true;
  advance(name, queue, clock_.now());
}

void Scheduler::all_powered_on() {
  for (const std::string& controller : memory_.controllers()) powered_on(controller);
}

std::vector<int> Scheduler::fds() const {
  std::vector<int> fds = transport_.fds();
  for (const auto& [controller, queue] : lanes_)
    if (queue.in_flight) {
      const auto more = queue.in_flight->exchange->fds();
      fds.insert(fds.end(), more.begin(), more.end());
    }
  return fds;
}

std::optional<TimePoint> Scheduler::wake_time() const {
  std::optional<TimePoint> soonest = nearest_deadline();
  for (const auto& [controller, queue] : lanes_) {
    if (!queue.in_flight) continue;
    earliest(soonest, queue.in_flight->exchange->wake_time());
    if (queue.in_flight->given_up) earliest(soonest, queue.in_flight->deadline);
  }
  return soonest;
}

std::optional<TimePoint> Scheduler::nearest_deadline() const {
  std::optional<TimePoint> soonest;
  for (const auto& [controller, queue] : lanes_) {
    if (queue.in_flight && !queue.in_flight->given_up) earliest(soonest, queue.in_flight->deadline);
    // Calls wait in arrival order, so the first one's time runs out first.
    if (!queue.waiting.empty()) earliest(soonest, queue.waiting.front().arrival + limits_.call - limits_.least_to_send);
  }
  return soonest;
}

void Scheduler::step() {
  transport_.tend();
  const TimePoint now = clock_.now();
  for (auto& [controller, queue] : lanes_) {
    if (queue.in_flight) step_in_flight(queue, now);
    advance(controller, queue, now);
  }
  std::erase_if(lanes_, [](const auto& entry) {
    const Lane& queue = entry.second;
    return !queue.in_flight && queue.waiting.empty() && !queue.restore_due;
  });
}

void Scheduler::wait(std::span<pollfd> extra, std::chrono::milliseconds longest) const {
  std::vector<pollfd> ready(extra.begin(), extra.end());
  for (const int fd : fds()) ready.push_back({fd, static_cast<short>(POLLIN), 0});
  auto timeout = longest.count();
  if (const auto due = wake_time()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - clock_.now()).count();
    timeout = std::clamp<decltype(timeout)>(left, 0, timeout);
  }
  if (::poll(ready.data(), ready.size(), static_cast<int>(timeout)) <= 0)
    for (pollfd& entry : ready) entry.revents = 0;
  for (std::size_t i = 0; i < extra.size(); ++i) extra[i].revents = ready[i].revents;
}

void Scheduler::step_in_flight(Lane& queue, TimePoint now) {
  InFlight& flight = *queue.in_flight;
  if (flight.given_up) {
    // A late answer, or the end of the wait for one, only frees the controller.
    if (flight.exchange->step(now) || now >= flight.deadline) queue.in_flight.reset();
    return;
  }
  // An answer taken after the deadline could no longer reach the caller in time: it is not one.
  if (now <= flight.deadline) {
    if (auto result = flight.exchange->step(now)) return finish(queue, std::move(*result));
  }
  if (now >= flight.deadline) give_up(queue, now);
}

void Scheduler::give_up(Lane& queue, TimePoint now) {
  InFlight& flight = *queue.in_flight;
  std::string seen = flight.exchange->give_up();
  // The controller keeps the lane a while longer, for its answer to the command it was sent.
  InFlight late{std::move(flight.exchange), flight.command, now + limits_.settle, std::nullopt, false, true};
  finish(queue, std::unexpected(std::move(seen)));
  queue.in_flight = std::move(late);
}

void Scheduler::advance(const std::string& controller, Lane& queue, TimePoint now) {
  while (!queue.in_flight) {
    expire_waiting(queue, now);
    if (!queue.waiting.empty()) {
      Call call = std::move(queue.waiting.front());
      queue.waiting.pop_front();
      start_call(queue, std::move(call), now);
    } else if (queue.restore_due) {
      start_restore(controller, queue, now);
    } else {
      return;
    }
    // An exchange may be over at once: an emulated controller that answers without delay.
    if (queue.in_flight) step_in_flight(queue, now);
  }
  expire_waiting(queue, now);
}

void Scheduler::expire_waiting(Lane& queue, TimePoint now) const {
  while (!queue.waiting.empty() && queue.waiting.front().arrival + limits_.call - limits_.least_to_send <= now) {
    Call call = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    call.answer(std::unexpected(concat(call.command.controller, ": not sent: the controller was busy with an earlier ",
                                       "command until too late in the call's ", limits_.call.count(), " ms")));
  }
}

void Scheduler::start_call(Lane& queue, Call call, TimePoint now) {
  const ExchangeTerms terms{.deadline = call.arrival + limits_.call, .limit = limits_.call};
  const bool took_over_restore = std::exchange(queue.restore_due, false);
  auto started = transport_.start(call.command, terms, now);
  if (!started) {
    queue.restore_due = queue.restore_due || took_over_restore;
    return call.answer(std::unexpected(std::move(started.error())));
  }
  // A lost log line must not cost the radio its command; the complaint goes to the journal.
  if (call_log_)
    if (auto logged = append_call_log(*call_log_, call.command); !logged) log_("Error: " + logged.error());
  TransmitPower command = call.command;
  queue.in_flight =
      InFlight{std::move(*started), std::move(command), terms.deadline, std::move(call), took_over_restore};
}

void Scheduler::start_restore(const std::string& controller, Lane& queue, TimePoint now) {
  queue.restore_due = false;
  // What is remembered now, which a call that ended since the power-on may have changed.
  auto command = memory_.last_for(controller);
  if (!command) return;
  const ExchangeTerms terms{.deadline = now + limits_.restore, .limit = limits_.restore, .retry_while_down = true};
  auto started = transport_.start(*command, terms, now);
  if (!started) return finish_restore(*command, std::unexpected(std::move(started.error())));
  queue.in_flight = InFlight{std::move(*started), std::move(*command), terms.deadline, std::nullopt, false};
}

void Scheduler::finish(Lane& queue, ExchangeResult result) {
  InFlight flight = std::move(*queue.in_flight);
  queue.in_flight.reset();
  if (!flight.call) return finish_restore(flight.command, result);

  // Only a level the controller accepted in time, from the service, is kept for power-ons.
  if (accepted(result) && flight.call->remembered) memory_.remember(flight.command);
  if (flight.took_over_restore) {
    if (accepted(result))
      log_(powered_on_line(flight.command, concat("a call has set ", command_line(flight.command), " since")));
    else queue.restore_due = true;
  }
  flight.call->answer(std::move(result));
}

void Scheduler::finish_restore(const TransmitPower& command, const ExchangeResult& result) {
  const std::string sent = command_line(command);
  if (!result) return log_(powered_on_line(command, concat("cannot restore ", sent, ": ", result.error())));
  const int status = static_cast<std::int8_t>(result->status);
  if (status != 0)
    return log_(powered_on_line(command, concat("the controller refused ", sent, " with status ", status)));
  log_(powered_on_line(command, "restored " + sent));
}

}  // namespace bridge
