// The bridge's scheduler on a fake clock with emulated controllers: what each controller
// receives, when each call is answered and with what, what is logged and what stays wanted,
// in the order it happens.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/memory/power_memory.hpp"
#include "bridge/schedule/scheduler.hpp"
#include "bridge/transport/simulation.hpp"

namespace bridge {
namespace {

using namespace std::chrono_literals;

class FakeClock final : public Clock {
 public:
  TimePoint now() const override { return now_; }
  void set(TimePoint now) { now_ = now; }

 private:
  TimePoint now_{};
};

struct Event {
  int at_ms;
  // "call hci0 0xa" (an account given with --allow-user), "diagnosis hci0 0xa" (root, not
  // given), "power-on hci0", "power-off hci0", "reset hci0", "answers hci0 status=12" (how it
  // answers from now on), "kernel-sends hci0 0c13" and "kernel-answers hci0 0c13".
  std::string what;
};

struct Scenario {
  const char* name;
  std::vector<std::string> remembered;  // "hci0 0x5": the service's levels when it begins
  // How a controller answers ("hci0"), or answers one power ("hci0 0xa"); by default at once.
  std::map<std::string, std::string> controls;
  std::vector<Event> events;
  std::vector<std::string> transcript;
};

TransmitPower power(const std::string& controller, const std::string& parameter) {
  return *read_transmit_power(controller, "0x3f", "0x0087", parameter);
}

// "Status: 0" of a reply, which ends in a line feed.
std::string last_line(std::string_view reply) {
  reply.remove_suffix(1);
  return std::string(reply.substr(reply.rfind('\n') + 1));
}

std::vector<std::string> play(const Scenario& scenario) {
  FakeClock clock;
  const TimePoint start = clock.now();
  std::vector<std::string> transcript;
  const auto note = [&](const std::string& line) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - start).count();
    transcript.push_back(std::to_string(ms) + " ms: " + line);
  };
  auto controls = scenario.controls;
  SimulatedControllers controllers([&](const TransmitPower& command) {
    note(command.controller + " receives " + parameter_text(command));
    auto control = controls.find(command.controller + ' ' + parameter_text(command));
    if (control == controls.end()) control = controls.find(command.controller);
    return parse_control(control == controls.end() ? "" : control->second);
  });
  PowerMemory memory;
  for (const auto& entry : scenario.remembered) memory.keep(power(entry.substr(0, 4), entry.substr(5)));
  const auto log = [&](std::string_view line) { note(std::string(line)); };
  Scheduler scheduler(clock, controllers, memory, log);

  // Steps at every time something is due, up to `until`.
  const auto run_until = [&](TimePoint until) {
    for (int turns = 0; turns < 1000; ++turns) {
      const auto due = scheduler.wake_time();
      if (!due || *due > until) break;
      clock.set(std::max(*due, clock.now()));
      scheduler.step();
    }
    clock.set(until);
  };
  int calls = 0;
  for (const Event& event : scenario.events) {
    run_until(start + std::chrono::milliseconds(event.at_ms));
    std::istringstream words(event.what);
    std::string kind, controller, parameter;
    words >> kind;
    words >> controller >> parameter;
    if (kind == "power-on") scheduler.powered_on(controller);
    if (kind == "power-off") scheduler.powered_off(controller);
    if (kind == "reset") scheduler.was_reset(controller);
    if (kind == "answers") controls.insert_or_assign(controller, parameter);
    const auto opcode = [&] { return static_cast<std::uint16_t>(std::stoi(parameter, nullptr, 16)); };
    if (kind == "kernel-sends") scheduler.kernel_sent(controller, opcode());
    if (kind == "kernel-answers") scheduler.kernel_answered(controller, opcode());
    if (kind != "call" && kind != "diagnosis") continue;
    const std::string call = "call " + std::to_string(++calls) + ": ";
    scheduler.submit({power(controller, parameter), kind == "call", clock.now(), [&, call](ExchangeResult result) {
                        if (!result) return note(call + result.error());
                        note(call + last_line(result->reply) + (result->instead ? " (replaced)" : ""));
                      }});
  }
  run_until(start + 25s);
  for (const auto& controller : memory.controllers())
    transcript.push_back("remembered: " + command_line(*memory.wanted(controller)));
  return transcript;
}

const std::string silent_0xa = "hci0: no answer to command 0x3f 0x0087 within 4400 ms";
const std::string not_sent =
    "hci0: not sent: the controller was busy with an earlier command until too late in the call's 4400 ms";

const std::string restored_0x5 = "restored hci0 0x3f 0x0087 0x5";

const Scenario scenarios[] = {
    {"a call behind a silent re-send is answered by its deadline, and never sent; the re-send goes again once its "
     "answer is no longer owed",
     {"hci0 0x5"},
     {{"hci0", "answer=none"}},
     {{0, "power-on hci0"}, {100, "call hci0 0xa"}},
     {"0 ms: hci0 receives 0x5",
      "4000 ms: hci0 powered on: cannot restore hci0 0x3f 0x0087 0x5: hci0: no answer to command 0x3f 0x0087 "
      "within 4000 ms; trying again",
      "4400 ms: call 1: " + not_sent, "15000 ms: hci0 receives 0x5", "remembered: hci0 0x3f 0x0087 0x5"}},
    {"a command given up on keeps its controller until its late answer",
     {},
     {{"hci0 0xa", "delay_ms=6000"}},
     {{0, "call hci0 0xa"}, {4600, "call hci0 0x14"}},
     {"0 ms: hci0 receives 0xa", "4400 ms: call 1: " + silent_0xa, "6000 ms: hci0 receives 0x14",
      "6000 ms: call 2: Status: 0", "remembered: hci0 0x3f 0x0087 0x14"}},
    {"a command given up on keeps its controller until it powers on",
     {},
     {{"hci0 0xa", "answer=none"}},
     {{0, "call hci0 0xa"}, {5000, "power-on hci0"}, {5100, "call hci0 0x14"}},
     {"0 ms: hci0 receives 0xa", "4400 ms: call 1: " + silent_0xa, "5100 ms: hci0 receives 0x14",
      "5100 ms: call 2: Status: 0", "remembered: hci0 0x3f 0x0087 0x14"}},
    {"a call whose time runs out behind another is never sent",
     {},
     {{"hci0", "answer=none"}},
     {{0, "call hci0 0xa"}, {50, "call hci0 0x14"}},
     {"0 ms: hci0 receives 0xa", "4350 ms: call 2: " + not_sent, "4400 ms: call 1: " + silent_0xa}},
    {"a command accepted after its caller was told it failed is undone at once",
     {"hci0 0x5"},
     {{"hci0 0xa", "delay_ms=5000"}},
     {{0, "call hci0 0xa"}},
     {"0 ms: hci0 receives 0xa", "4400 ms: call 1: " + silent_0xa, "5000 ms: hci0 receives 0x5",
      "5000 ms: hci0 did not answer a command in time: " + restored_0x5, "remembered: hci0 0x3f 0x0087 0x5"}},
    {"power-ons swallow the command of a call under way, which is sent again each time",
     {},
     {{"hci0", "delay_ms=1000"}},
     {{0, "call hci0 0xa"}, {100, "power-on hci0"}, {200, "power-on hci0"}, {300, "power-on hci0"}},
     {"0 ms: hci0 receives 0xa", "100 ms: hci0 receives 0xa", "200 ms: hci0 receives 0xa", "300 ms: hci0 receives 0xa",
      "1300 ms: call 1: Status: 0", "remembered: hci0 0x3f 0x0087 0xa"}},
    {"a call refused after a power-on leaves the re-send due",
     {"hci0 0x5"},
     {{"hci0", "delay_ms=1000"}, {"hci0 0xf", "delay_ms=1000\nstatus=12"}},
     {{0, "call hci0 0xa"}, {100, "power-on hci0"}, {200, "call hci0 0xf"}},
     {"0 ms: hci0 receives 0xa", "100 ms: hci0 receives 0xa",
      "1100 ms: hci0 powered on: a call has set hci0 0x3f 0x0087 0xa since", "1100 ms: call 1: Status: 0",
      "1100 ms: hci0 receives 0xf", "2100 ms: call 2: Status: 12", "remembered: hci0 0x3f 0x0087 0xa"}},
    {"calls go before re-sends, and a reset ends the re-send it came during",
     {"hci0 0x5"},
     {{"hci0", "delay_ms=1000"}},
     {{0, "reset hci0"}, {100, "call hci0 0xa"}, {150, "call hci0 0x14"}, {500, "reset hci0"}},
     {"0 ms: hci0 receives 0x5", "500 ms: hci0 receives 0xa",
      "1500 ms: hci0 was reset: a call has set hci0 0x3f 0x0087 0xa since", "1500 ms: call 1: Status: 0",
      "1500 ms: hci0 receives 0x14", "2500 ms: call 2: Status: 0", "remembered: hci0 0x3f 0x0087 0x14"}},
    {"a call whose command a reset swallowed too late to send it again says so; the next goes at once",
     {},
     {{"hci0 0xa", "answer=none"}},
     {{0, "call hci0 0xa"}, {100, "call hci0 0x14"}, {4350, "reset hci0"}},
     {"0 ms: hci0 receives 0xa",
      "4350 ms: call 1: hci0: the controller was reset before it answered, too late in the call's 4400 ms to send "
      "the command again",
      "4350 ms: hci0 receives 0x14", "4350 ms: call 2: Status: 0", "remembered: hci0 0x3f 0x0087 0x14"}},
    {"a power-off answers the call under way at once",
     {},
     {{"hci0", "answer=none"}},
     {{0, "call hci0 0xa"}, {500, "power-off hci0"}},
     {"0 ms: hci0 receives 0xa",
      "500 ms: call 1: hci0: the controller was switched off before it answered (Network is down)"}},
    {"an answer while an earlier one is owed may be that one's: the call fails, and the wanted power goes once "
     "nothing is owed",
     {"hci0 0x5"},
     {{"hci0 0xa", "answer=none"}},
     {{0, "call hci0 0xa"}, {6500, "call hci0 0x14"}},
     {"0 ms: hci0 receives 0xa", "4400 ms: call 1: " + silent_0xa, "6500 ms: hci0 receives 0x14",
      "6500 ms: call 2: hci0: the answer may have been the controller's late answer to an earlier command, so "
      "whether it took 0x14 is not known; hci0 0x3f 0x0087 0x5 is being sent again",
      "21500 ms: hci0 receives 0x5", "21500 ms: hci0 did not answer a command in time: " + restored_0x5,
      "remembered: hci0 0x3f 0x0087 0x5"}},
    {"a restore and a call wait until the kernel's commands are answered and it was quiet; one never answered "
     "holds them 2 s at most",
     {"hci0 0x5"},
     {},
     {{0, "kernel-sends hci0 0c03"},
      {10, "kernel-answers hci0 0c03"},
      {10, "reset hci0"},
      {20, "kernel-sends hci0 0c1c"},
      {30, "kernel-answers hci0 0c1c"},
      {40, "kernel-sends hci0 0c13"},
      {50, "power-on hci0"},
      {3000, "kernel-sends hci0 0c13"},
      {3010, "call hci0 0xa"},
      {3100, "kernel-answers hci0 0c13"}},
     {"2040 ms: hci0 receives 0x5", "2040 ms: hci0 powered on: " + restored_0x5, "3350 ms: hci0 receives 0xa",
      "3350 ms: call 1: Status: 0", "remembered: hci0 0x3f 0x0087 0xa"}},
    {"a controller without the command is not asked again until it powers on; calls are still carried out",
     {"hci0 0x5"},
     {{"hci0", "answer=status\nstatus=1"}},
     {{0, "power-on hci0"},
      {1000, "call hci0 0xa"},
      {2000, "reset hci0"},
      {2500, "answers hci0 status=0"},
      {3000, "power-on hci0"}},
     {"0 ms: hci0 receives 0x5",
      "0 ms: hci0 does not know command 0x3f 0x0087 (status 1): nothing is sent to it again until it powers on",
      "1000 ms: hci0 receives 0xa", "1000 ms: call 1: Status: 1", "3000 ms: hci0 receives 0x5",
      "3000 ms: hci0 powered on: " + restored_0x5, "remembered: hci0 0x3f 0x0087 0x5"}},
    {"what makes a radio unknown: a reset, a power-on; nothing goes while it is down",
     {"hci0 0x5", "hci1 0x5"},
     {},
     {{1000, "reset hci0"},
      {2000, "power-off hci0"},
      {2100, "reset hci0"},
      {3000, "power-on hci1"},
      {4000, "power-on hci0"}},
     {"1000 ms: hci0 receives 0x5", "1000 ms: hci0 was reset: " + restored_0x5, "3000 ms: hci1 receives 0x5",
      "3000 ms: hci1 powered on: restored hci1 0x3f 0x0087 0x5", "4000 ms: hci0 receives 0x5",
      "4000 ms: hci0 powered on: " + restored_0x5, "remembered: hci0 0x3f 0x0087 0x5",
      "remembered: hci1 0x3f 0x0087 0x5"}},
    {"a re-send that keeps failing is tried less and less often, logged once, and at once after a power-on",
     {"hci0 0x5"},
     {{"hci0", "status=12"}},
     {{0, "power-on hci0"}, {2000, "power-on hci0"}, {2500, "answers hci0 status=0"}},
     {"0 ms: hci0 receives 0x5",
      "0 ms: hci0 powered on: the controller refused hci0 0x3f 0x0087 0x5 with status 12; "
      "trying again",
      "100 ms: hci0 receives 0x5", "300 ms: hci0 receives 0x5", "700 ms: hci0 receives 0x5",
      "1500 ms: hci0 receives 0x5", "2000 ms: hci0 receives 0x5", "2100 ms: hci0 receives 0x5",
      "2300 ms: hci0 receives 0x5", "2700 ms: hci0 receives 0x5",
      "2700 ms: hci0: " + restored_0x5 + " after 8 failed tries", "remembered: hci0 0x3f 0x0087 0x5"}},
    {"a silent controller does not delay another",
     {},
     {{"hci0", "answer=none"}},
     {{0, "call hci0 0xa"}, {10, "call hci1 0xa"}},
     {"0 ms: hci0 receives 0xa", "10 ms: hci1 receives 0xa", "10 ms: call 2: Status: 0",
      "4400 ms: call 1: " + silent_0xa, "remembered: hci1 0x3f 0x0087 0xa"}},
    {"a diagnosis is carried out, not remembered, and undone by the next power-on",
     {"hci0 0x5"},
     {},
     {{0, "diagnosis hci0 0x14"}, {100, "power-on hci0"}},
     {"0 ms: hci0 receives 0x14", "0 ms: call 1: Status: 0", "100 ms: hci0 receives 0x5",
      "100 ms: hci0 powered on: " + restored_0x5, "remembered: hci0 0x3f 0x0087 0x5"}},
    {"a reply put in place of the answer is never remembered",
     {},
     {{"hci0", "reply=text\ntext=x"}},
     {{0, "call hci0 0xa"}},
     {"0 ms: hci0 receives 0xa", "0 ms: call 1: Status: 0 (replaced)"}},
};

TEST(Scheduler, AnswersEveryCallInTimeAndDrivesTheRadioBackToTheWantedLevelWheneverItMayHaveLostIt) {
  for (const Scenario& scenario : scenarios) EXPECT_EQ(play(scenario), scenario.transcript) << scenario.name;
}

}  // namespace
}  // namespace bridge
