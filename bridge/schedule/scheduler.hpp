#pragma once
// The bridge's one piece of state: the calls waiting per controller and their deadlines, the
// exchange in flight on each controller, what the bridge knows of each radio, and the memory of
// the service's levels. The loop asks it what to wait for and steps it; nothing here blocks on a
// controller or on the disk.
//
// Per controller it keeps what is wanted (the service's last level, in PowerMemory) and what is
// known: whether the radio holds it. Whenever the bridge cannot be sure (the controller powered
// on or was reset, or took a command whose outcome the caller was not told), the radio is
// unknown, and while the controller is up the wanted power is sent again when the controller is
// free, less and less often while that fails. Calls go first.
//
// One exchange at a time per controller, since the answers to two transmit-power commands cannot
// be told apart; controllers do not wait for each other. Every call is answered by its deadline,
// and nothing is sent for it once that has passed. A level the controller accepted in time is
// answered as accepted at once, and is the wanted power from then on.
//
// No answer is taken for another command's: per controller it counts the commands given up on
// without an answer (the controller owes their answers), and any answer seen pays the oldest. An
// answer that comes to a command while an earlier one is owed may be that one's, so it says
// nothing: the call fails, the radio is unknown, and one answer is still owed (ours); a re-send
// waits until nothing is owed, as its answer could not be told either. A power-on,
// a reset or a power-off clears the count, as the controller forgets what it was doing; an owed
// answer is forgotten `owed` after its command was sent, so a controller that lost a command is
// not doubted for ever. An answer later than that would still be taken for a later command's.
#include <poll.h>

#include <chrono>
#include <cstdint>
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
#include "bridge/schedule/backoff.hpp"
#include "bridge/schedule/clock.hpp"
#include "bridge/schedule/kernel_commands.hpp"
#include "bridge/transport/exchange.hpp"

namespace bridge {

struct ScheduleLimits {
  // From a call's arrival to its answer, whatever else is going on. The promise is 4.5 s, under
  // the service's own 5 s; the last 100 ms are left for waking, sending the reply and its way
  // through the bus daemon, so that an answer given up on at the deadline still arrives in time.
  std::chrono::milliseconds call{4400};
  // A re-send's exchange; a call that arrives just after one began still has time of its own.
  std::chrono::milliseconds restore{4000};
  // A call with less time left is not sent at all: no answer could come back in time, and a
  // command the caller is told failed should not reach the controller.
  std::chrono::milliseconds least_to_send{100};
  // How long a controller is left to answer a command given up on before the next is sent,
  // unless it powers on or is reset first: a late answer would be taken for the next one's. The
  // kernel, too, sends the next command once 2 s have passed without an answer.
  std::chrono::milliseconds settle{2000};
  // How long an answer given up on is still expected: later than this, it is forgotten.
  std::chrono::milliseconds owed{15000};
  // A command of ours goes only once every command the kernel sent the controller has been
  // answered and none has been seen for this long (KernelCommands); one still unanswered after
  // `kernel_command` is taken as ended, as the kernel gives up on it after 2 s. A controller the
  // kernel never leaves alone keeps ours waiting `kernel_wait` at most.
  std::chrono::milliseconds kernel_quiet{250};
  std::chrono::milliseconds kernel_command{2000};
  std::chrono::milliseconds kernel_wait{3000};
  // Re-sends of the wanted power that fail are tried again after the first delay, each next
  // delay twice the last, up to the longest.
  std::chrono::milliseconds first_retry{100};
  std::chrono::milliseconds longest_retry{30000};
};

struct Call {
  TransmitPower command;
  bool remembered = false;  // from an account given with --allow-user: the service's level
  TimePoint arrival;        // when the bridge read the call off its connection
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

  // What the bridge learns of the controllers. Each of these ends the exchange in flight, whose
  // answer will never come. A power-on or a reset leaves the radio unknown and lets the wanted
  // power go again at once; a call whose command it swallowed is sent again, in its own time.
  // Powered on, and so reset: it has forgotten its transmit power.
  void powered_on(std::string_view controller);
  // Every controller with a wanted power has (the emulated controller's power-on).
  void all_powered_on();
  // Powered off: a call under way is answered at once; nothing is sent again until it powers on.
  void powered_off(std::string_view controller);
  // It completed an HCI Reset, whoever sent it: its transmit power is the default again.
  void was_reset(std::string_view controller);
  // The kernel sent it a command, or it answered one (any but the transmit-power command): ours
  // waits until the kernel is done with it.
  void kernel_sent(std::string_view controller, std::uint16_t opcode);
  void kernel_answered(std::string_view controller, std::uint16_t opcode);

  // What the loop waits for: the exchanges' descriptors, and the nearest time something is due.
  std::vector<int> fds() const;
  std::optional<TimePoint> wake_time() const;
  // Takes what has arrived, answers what has ended or run out of time, starts what can start.
  void step();
  // The loop's wait: BLOCKS until one of `extra` (polled as given; their revents say which) or
  // one of fds() is ready, or the nearest time comes, at most `longest`.
  void wait(std::span<pollfd> extra, std::chrono::milliseconds longest) const;

 private:
  // What the radio holds, as far as the bridge knows.
  enum class Holds {
    wanted,   // the wanted power (or nothing is wanted)
    other,    // a power from a caller who is not the service, which it was told took
    unknown,  // cannot be sure: the wanted power is to be sent again
  };
  enum class Stage {
    exchanging,  // the command is out; its answer is awaited until the deadline
    settling,    // given up; the controller keeps its lane for a late answer until the deadline
  };
  struct InFlight {
    std::unique_ptr<Exchange> exchange;
    TransmitPower command;
    TimePoint sent;
    TimePoint deadline;
    std::optional<Call> call;  // none: a re-send of the wanted power
    Stage stage = Stage::exchanging;
  };
  struct Waiting {
    Call call;
    std::string_view swallowed;  // "powered on", "was reset": its command was sent, and lost
  };
  struct Lane {
    explicit Lane(const ScheduleLimits& limits)
        : retry(limits.first_retry, limits.longest_retry), kernel(limits.kernel_quiet, limits.kernel_command) {}
    std::deque<Waiting> waiting;
    std::optional<InFlight> in_flight;
    bool up = true;
    Holds radio = Holds::wanted;
    std::string why_unknown;  // "powered on", "was reset", ...: starts the lines about re-sends
    Backoff retry;
    int failed_resends = 0;        // since the last one that worked; the first failure is logged
    std::deque<TimePoint> owed;    // when each command whose answer was not seen was sent
    bool unknown_command = false;  // it answered 0x01: nothing is sent again until it powers on
    KernelCommands kernel;
    std::optional<TimePoint> held_since;  // since when something of ours waits for the kernel
  };

  Lane& lane(std::string_view controller);
  // An event (a power-on, a reset) names the latest cause; the outcome of a command names one
  // only when the radio was known until then.
  void unknown(Lane& queue, std::string_view why, bool event);
  void restarted(const std::string& controller, Lane& queue, std::string_view why);
  // Whether an answer seen now could be an earlier command's; and forgetting those owed too long.
  bool owes(const Lane& queue, TimePoint now) const;
  void forget_owed(Lane& queue, TimePoint now) const;
  void advance(const std::string& controller, Lane& queue, TimePoint now);
  bool resend_due(const std::string& controller, const Lane& queue, TimePoint now) const;
  // Whether the kernel is done with the controller (or has kept ours waiting long enough).
  bool kernel_done(Lane& queue, TimePoint now) const;
  // When that will be, for something of ours that waits; none: now.
  std::optional<TimePoint> kernel_done_at(const Lane& queue) const;
  void expire_waiting(Lane& queue, TimePoint now) const;
  void start_call(Lane& queue, Call call, TimePoint now);
  void start_resend(const std::string& controller, Lane& queue, TimePoint now);
  void step_in_flight(const std::string& controller, Lane& queue, TimePoint now);
  void answered(const std::string& controller, Lane& queue, ExchangeResult result, TimePoint now);
  void call_answered(const std::string& controller, Lane& queue, InFlight& flight, ExchangeResult result);
  void doubted(const std::string& controller, Lane& queue, InFlight& flight, TimePoint now);
  // It answered 0x01: it has no such command, and is not asked again until it powers on.
  void unknown_command(const std::string& controller, Lane& queue);
  // The radio holds the command in flight now, which its caller is told took; a remembered one
  // becomes the wanted power (`kept`).
  void holds(const std::string& controller, Lane& queue, const InFlight& flight, bool kept);
  void give_up(const std::string& controller, Lane& queue, TimePoint now);
  void resend_ended(const std::string& controller, Lane& queue, const InFlight& flight, const ExchangeResult& result,
                    TimePoint now);
  void resend_failed(const std::string& controller, Lane& queue, std::string_view what, TimePoint now);

  const Clock& clock_;
  Transport& transport_;
  PowerMemory& memory_;
  Log log_;
  std::optional<std::filesystem::path> call_log_;
  ScheduleLimits limits_;
  std::map<std::string, Lane, std::less<>> lanes_;
};

}  // namespace bridge
