#include "bridge/schedule/scheduler.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "bridge/concat.hpp"
#include "bridge/schedule/call_log.hpp"
#include "contract/bridge_interface.hpp"

namespace bridge {
namespace {

// Why a radio is unknown: each starts the lines about sending the wanted power again, after the
// controller's name ("hci0 powered on: restored hci0 0x3f 0x0087 0xa").
constexpr std::string_view after_power_on = "powered on";
constexpr std::string_view after_reset = "was reset";
constexpr std::string_view after_no_answer = "did not answer a command in time";
constexpr std::string_view after_bad_answer = "gave no usable answer to a command";
constexpr std::string_view after_untold = "took a level its caller was not told of";
constexpr std::string_view after_doubted = "gave an answer that may have been an earlier command's";

// The status of a controller without the command (Unknown HCI Command).
constexpr std::uint8_t unknown_hci_command = 0x01;

void earliest(std::optional<TimePoint>& soonest, std::optional<TimePoint> candidate) {
  if (candidate && (!soonest || *candidate < *soonest)) soonest = candidate;
}

// The controller carried the command out, whatever the caller gets.
bool took(const ExchangeResult& result) { return result && result->status == 0; }

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
  if (found == lanes_.end()) found = lanes_.emplace(std::string(controller), Lane(limits_)).first;
  return found->second;
}

void Scheduler::submit(Call call) {
  const std::string controller = call.command.controller;
  Lane& queue = lane(controller);
  queue.waiting.push_back({std::move(call), {}});
  advance(controller, queue, clock_.now());
}

void Scheduler::unknown(Lane& queue, std::string_view why, bool event) {
  if (event || queue.radio != Holds::unknown) queue.why_unknown = why;
  queue.radio = Holds::unknown;
}

void Scheduler::restarted(const std::string& controller, Lane& queue, std::string_view why) {
  unknown(queue, why, true);
  // It forgot what it was doing: nothing given up on will be answered, nor what is in flight.
  queue.owed.clear();
  if (queue.in_flight) {
    InFlight flight = std::move(*queue.in_flight);
    queue.in_flight.reset();
    // Its caller still wants it, and the controller is there again: it goes first.
    if (flight.call) queue.waiting.push_front({std::move(*flight.call), why});
  }
  queue.retry.reset();
  advance(controller, queue, clock_.now());
}

void Scheduler::powered_on(std::string_view controller) {
  const std::string name(controller);
  Lane& queue = lane(name);
  queue.up = true;
  queue.unknown_command = false;
  restarted(name, queue, after_power_on);
}

void Scheduler::all_powered_on() {
  for (const std::string& controller : memory_.controllers()) powered_on(controller);
}

void Scheduler::powered_off(std::string_view controller) {
  const std::string name(controller);
  Lane& queue = lane(name);
  queue.up = false;
  queue.owed.clear();
  if (!queue.in_flight) return;
  InFlight flight = std::move(*queue.in_flight);
  queue.in_flight.reset();
  // The kernel drops what a controller that is down still sends: no answer can come. The
  // system's words for ENETDOWN tell the service that the controller is switched off.
  if (flight.call)
    flight.call->answer(std::unexpected(
        concat(name, ": the controller was switched off before it answered (", std::strerror(ENETDOWN), ")")));
  advance(name, queue, clock_.now());
}

void Scheduler::was_reset(std::string_view controller) {
  const std::string name(controller);
  restarted(name, lane(name), after_reset);
}

void Scheduler::kernel_sent(std::string_view controller, std::uint16_t opcode) {
  lane(controller).kernel.sent(opcode, clock_.now());
}

void Scheduler::kernel_answered(std::string_view controller, std::uint16_t opcode) {
  const std::string name(controller);
  Lane& queue = lane(name);
  queue.kernel.answered(opcode, clock_.now());
  advance(name, queue, clock_.now());
}

std::vector<int> Scheduler::fds() const {
  std::vector<int> fds = transport_.fds();
  for (const auto& [controller, queue] : lanes_)
    if (queue.in_flight && queue.in_flight->exchange) {
      const auto more = queue.in_flight->exchange->fds();
      fds.insert(fds.end(), more.begin(), more.end());
    }
  return fds;
}

std::optional<TimePoint> Scheduler::wake_time() const {
  const TimePoint now = clock_.now();
  std::optional<TimePoint> soonest;
  for (const auto& [controller, queue] : lanes_) {
    // Calls wait in arrival order, so the first one's time runs out first.
    if (!queue.waiting.empty())
      earliest(soonest, queue.waiting.front().call.arrival + limits_.call - limits_.least_to_send);
    if (queue.in_flight) {
      earliest(soonest, queue.in_flight->deadline);
      if (queue.in_flight->exchange) earliest(soonest, queue.in_flight->exchange->wake_time());
      continue;
    }
    // When something would start, but for the kernel.
    std::optional<TimePoint> start;
    if (!queue.waiting.empty()) {
      start = now;
    } else if (queue.up && queue.radio == Holds::unknown && !queue.unknown_command && memory_.wanted(controller)) {
      const TimePoint retry = queue.retry.next().value_or(now);
      start = queue.owed.empty() ? retry : std::max(retry, queue.owed.back() + limits_.owed);
    }
    if (start) earliest(soonest, std::max(*start, kernel_done_at(queue).value_or(*start)));
  }
  return soonest;
}

void Scheduler::step() {
  transport_.tend();
  const TimePoint now = clock_.now();
  for (auto& [controller, queue] : lanes_) {
    if (queue.in_flight) step_in_flight(controller, queue, now);
    forget_owed(queue, now);
    advance(controller, queue, now);
  }
  // A lane with nothing under way, nothing wanted and nothing known against it holds nothing.
  std::erase_if(lanes_, [&](const auto& entry) {
    const Lane& queue = entry.second;
    return !queue.in_flight && queue.waiting.empty() && queue.up && !memory_.wanted(entry.first) &&
           queue.owed.empty() && !queue.unknown_command && kernel_done_at(queue).value_or(now) <= now;
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

void Scheduler::advance(const std::string& controller, Lane& queue, TimePoint now) {
  while (!queue.in_flight) {
    expire_waiting(queue, now);
    const bool wanted = !queue.waiting.empty() || resend_due(controller, queue, now);
    if (!wanted) queue.held_since.reset();
    if (!wanted || !kernel_done(queue, now)) break;
    if (!queue.waiting.empty()) {
      Call call = std::move(queue.waiting.front().call);
      queue.waiting.pop_front();
      start_call(queue, std::move(call), now);
    } else {
      start_resend(controller, queue, now);
    }
    // An exchange may be over at once: an emulated controller that answers without delay.
    if (queue.in_flight) step_in_flight(controller, queue, now);
  }
  expire_waiting(queue, now);
}

bool Scheduler::resend_due(const std::string& controller, const Lane& queue, TimePoint now) const {
  // While an answer is owed, the re-send's own answer could not be told from it: it waits until
  // the owed one comes or is forgotten.
  return queue.up && queue.radio == Holds::unknown && !queue.unknown_command && queue.retry.due(now) &&
         !owes(queue, now) && memory_.wanted(controller).has_value();
}

bool Scheduler::kernel_done(Lane& queue, TimePoint now) const {
  if (!queue.held_since) queue.held_since = now;
  if (kernel_done_at(queue).value_or(now) > now) return false;
  queue.held_since.reset();
  return true;
}

std::optional<TimePoint> Scheduler::kernel_done_at(const Lane& queue) const {
  const auto free = queue.kernel.free_from();
  if (!free || !queue.held_since) return free;
  return std::min(*free, *queue.held_since + limits_.kernel_wait);
}

bool Scheduler::owes(const Lane& queue, TimePoint now) const {
  return !queue.owed.empty() && queue.owed.back() + limits_.owed > now;
}

void Scheduler::forget_owed(Lane& queue, TimePoint now) const {
  while (!queue.owed.empty() && queue.owed.front() + limits_.owed <= now) queue.owed.pop_front();
}

void Scheduler::expire_waiting(Lane& queue, TimePoint now) const {
  while (!queue.waiting.empty() && queue.waiting.front().call.arrival + limits_.call - limits_.least_to_send <= now) {
    Waiting late = std::move(queue.waiting.front());
    queue.waiting.pop_front();
    const std::string& controller = late.call.command.controller;
    if (late.swallowed.empty())
      late.call.answer(std::unexpected(concat(controller, ": not sent: the controller was busy with an earlier ",
                                              "command until too late in the call's ", limits_.call.count(), " ms")));
    else
      late.call.answer(std::unexpected(concat(controller, ": the controller ", late.swallowed,
                                              " before it answered, too late in the call's ", limits_.call.count(),
                                              " ms to send the command again")));
  }
}

void Scheduler::start_call(Lane& queue, Call call, TimePoint now) {
  const ExchangeTerms terms{.deadline = call.arrival + limits_.call, .limit = limits_.call};
  auto started = transport_.start(call.command, terms, now);
  // Nothing reached the controller: the radio is as it was.
  if (!started) return call.answer(std::unexpected(std::move(started.error())));
  // A lost log line must not cost the radio its command; the complaint goes to the journal.
  if (call_log_)
    if (auto logged = append_call_log(*call_log_, call.command); !logged) log_("Error: " + logged.error());
  TransmitPower command = call.command;
  queue.in_flight = InFlight{.exchange = std::move(*started),
                             .command = std::move(command),
                             .sent = now,
                             .deadline = terms.deadline,
                             .call = std::move(call),
                             .stage = Stage::exchanging};
}

void Scheduler::start_resend(const std::string& controller, Lane& queue, TimePoint now) {
  TransmitPower command = *memory_.wanted(controller);
  const ExchangeTerms terms{.deadline = now + limits_.restore, .limit = limits_.restore, .retry_while_down = true};
  auto started = transport_.start(command, terms, now);
  if (!started)
    return resend_failed(controller, queue, concat("cannot restore ", command_line(command), ": ", started.error()),
                         now);
  queue.in_flight = InFlight{.exchange = std::move(*started),
                             .command = std::move(command),
                             .sent = now,
                             .deadline = terms.deadline,
                             .call = std::nullopt,
                             .stage = Stage::exchanging};
}

void Scheduler::step_in_flight(const std::string& controller, Lane& queue, TimePoint now) {
  InFlight& flight = *queue.in_flight;
  switch (flight.stage) {
    case Stage::settling:
      // A late answer, or the end of the wait for one, only frees the controller; an answer pays
      // the oldest one owed, which may be an earlier command's.
      if (auto late = flight.exchange->step(now)) {
        forget_owed(queue, now);
        if (*late && !queue.owed.empty()) queue.owed.pop_front();
        queue.in_flight.reset();
      } else if (now >= flight.deadline) {
        queue.in_flight.reset();
      }
      return;
    case Stage::exchanging:
      // An answer taken after the deadline could no longer reach the caller in time: it is not one.
      if (now <= flight.deadline)
        if (auto result = flight.exchange->step(now)) return answered(controller, queue, std::move(*result), now);
      if (now >= flight.deadline) give_up(controller, queue, now);
      return;
  }
}

void Scheduler::give_up(const std::string& controller, Lane& queue, TimePoint now) {
  InFlight& flight = *queue.in_flight;
  std::string seen = flight.exchange->give_up();
  queue.owed.push_back(flight.sent);
  // The controller keeps the lane a while longer, for its answer to the command it was sent.
  flight.stage = Stage::settling;
  flight.deadline = now + limits_.settle;
  if (!flight.call)
    return resend_failed(controller, queue, concat("cannot restore ", command_line(flight.command), ": ", seen), now);
  // It may take the command yet, after its caller was told it failed.
  unknown(queue, after_no_answer, false);
  Call call = std::move(*flight.call);
  flight.call.reset();
  call.answer(std::unexpected(std::move(seen)));
}

void Scheduler::answered(const std::string& controller, Lane& queue, ExchangeResult result, TimePoint now) {
  InFlight flight = std::move(*queue.in_flight);
  queue.in_flight.reset();
  forget_owed(queue, now);
  if (!result) {
    // Nothing readable came back: its answer may come yet.
    queue.owed.push_back(flight.sent);
  } else if (!queue.owed.empty()) {
    // The answer pays the oldest owed; whether that was this command's or an earlier one's,
    // one is still owed, and counted as this one's.
    queue.owed.pop_front();
    queue.owed.push_back(flight.sent);
    return doubted(controller, queue, flight, now);
  }
  if (result && result->status == unknown_hci_command) unknown_command(controller, queue);
  if (!flight.call) return resend_ended(controller, queue, flight, result, now);
  call_answered(controller, queue, flight, std::move(result));
}

void Scheduler::doubted(const std::string& controller, Lane& queue, InFlight& flight, TimePoint now) {
  unknown(queue, after_doubted, false);
  const std::string why(contract::doubted_answer);
  if (!flight.call)
    return resend_failed(controller, queue, concat("cannot restore ", command_line(flight.command), ": ", why), now);
  const auto wanted = memory_.wanted(controller);
  flight.call->answer(std::unexpected(
      concat(controller, ": ", why, ", so whether it took ", parameter_text(flight.command), " is not known",
             wanted ? concat("; ", command_line(*wanted), " is being sent again") : std::string())));
}

void Scheduler::unknown_command(const std::string& controller, Lane& queue) {
  if (queue.unknown_command) return;
  queue.unknown_command = true;
  log_(concat(controller, " does not know command ", group_text, ' ', command_text,
              " (status 1): ", "nothing is sent to it again until it powers on"));
}

void Scheduler::call_answered(const std::string& controller, Lane& queue, InFlight& flight, ExchangeResult result) {
  Call& call = *flight.call;
  if (!result) {
    // Sent, but what came back cannot say whether it took.
    unknown(queue, after_bad_answer, false);
    return call.answer(std::move(result));
  }
  // Refused: the radio is as it was.
  if (!took(result)) return call.answer(std::move(result));
  if (result->instead) {
    // Carried out, but the caller gets something else: the service does not count on it.
    if (memory_.wanted(controller) != flight.command) unknown(queue, after_untold, false);
    return call.answer(std::move(result));
  }
  holds(controller, queue, flight, call.remembered);
  call.answer(std::move(result));
}

void Scheduler::holds(const std::string& controller, Lane& queue, const InFlight& flight, bool kept) {
  // Only a power that was to be sent again makes the call worth a line.
  const bool was_due = queue.radio == Holds::unknown && memory_.wanted(controller).has_value();
  // The caller is told it was accepted now: the service's level is this one from now on.
  if (kept) memory_.keep(flight.command);
  if (was_due)
    log_(concat(controller, ' ', queue.why_unknown, ": a call has set ", command_line(flight.command), " since"));
  queue.radio = memory_.wanted(controller) == flight.command ? Holds::wanted : Holds::other;
  queue.retry.reset();
  queue.failed_resends = 0;
}

void Scheduler::resend_ended(const std::string& controller, Lane& queue, const InFlight& flight,
                             const ExchangeResult& result, TimePoint now) {
  const std::string sent = command_line(flight.command);
  if (!result) return resend_failed(controller, queue, concat("cannot restore ", sent, ": ", result.error()), now);
  const int status = static_cast<std::int8_t>(result->status);
  // Not known to it: logged once, and not tried again.
  if (queue.unknown_command) return;
  if (status != 0)
    return resend_failed(controller, queue, concat("the controller refused ", sent, " with status ", status), now);
  queue.radio = Holds::wanted;
  queue.retry.reset();
  if (queue.failed_resends == 0) return log_(concat(controller, ' ', queue.why_unknown, ": restored ", sent));
  log_(concat(controller, ": restored ", sent, " after ", queue.failed_resends,
              queue.failed_resends == 1 ? " failed try" : " failed tries"));
  queue.failed_resends = 0;
}

void Scheduler::resend_failed(const std::string& controller, Lane& queue, std::string_view what, TimePoint now) {
  queue.retry.failed(now);
  // The first failure is logged, and the recovery: not every try of a controller that keeps failing.
  if (queue.failed_resends++ == 0) log_(concat(controller, ' ', queue.why_unknown, ": ", what, "; trying again"));
}

}  // namespace bridge
