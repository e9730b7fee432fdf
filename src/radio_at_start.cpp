#include "src/radio_at_start.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "contract/bridge_interface.hpp"
#include "contract/range_interface.hpp"
#include "src/supervisor_notice.hpp"
#include "src/tx_power_command.hpp"

namespace src {

bool switched_off(const Error& failure) { return failure.message().find(std::strerror(ENETDOWN)) != std::string::npos; }

bool doubted(const Error& failure) { return failure.message().find(contract::doubted_answer) != std::string::npos; }

// Status 1 is Unknown HCI Command.
bool command_unknown(const Error& failure) { return failure.message() == tx_power_command::refused(1).message(); }

Error unknown_command_report(const Error& failure) {
  return Error(failure.message(),
               {"hci0 does not know the transmit-power command (status 1: Unknown HCI Command), and no retry will "
                "change that: ble-ranged is not started again (exit status " +
                std::to_string(unknown_command_status) + ") until it is started anew"});
}

StartUpWait real_start_up_wait() {
  return {
      .pause = [](std::chrono::milliseconds length) { std::this_thread::sleep_for(length); },
      .say =
          [](std::string_view line) {
            // Nobody may be reading standard output; a line that cannot be written is lost.
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
          },
      .notify = notify_supervisor_or_say_why,
  };
}

namespace {

// Applies the level, trying again while the bridge cannot tell whether it took. BLOCKS up to 5 s
// a try, and up to longest_doubt for the tries.
std::expected<void, Error> apply_undoubted(Radio& radio, std::int8_t level, const StartUpWait& wait) {
  auto applied = radio.apply(level);
  auto waited = std::chrono::milliseconds(0);
  for (auto pause = first_retry; !applied && doubted(applied.error()) && waited < longest_doubt;) {
    wait.pause(pause);  // BLOCKS for the pause
    waited += pause;
    pause = std::min(pause * 2, longest_retry);
    applied = radio.apply(level);
  }
  return applied;
}

}  // namespace

std::expected<void, Error> apply_at_start(Radio& radio, std::int8_t level, const StartUpWait& wait) {
  auto applied = apply_undoubted(radio, level, wait);  // BLOCKS
  if (applied || !switched_off(applied.error())) return applied;

  // One line and one notice for the whole wait: a device whose user keeps Bluetooth off keeps a
  // quiet log. Up for the supervisor, so that its start job (and the boot) does not wait on it.
  wait.say("The radio is switched off (" + applied.error().message() + "): the stored level " + std::to_string(level) +
           " is applied once it is switched on, and " + std::string(contract::range_bus_name) +
           " is on the bus from then on");
  wait.notify("READY=1\nSTATUS=Waiting for the radio to be switched on: " + applied.error().message());
  auto pause = first_retry;
  for (;;) {
    wait.pause(pause);  // BLOCKS for the pause
    pause = std::min(pause * 2, longest_retry);
    applied = apply_undoubted(radio, level, wait);  // BLOCKS
    if (applied || !switched_off(applied.error())) return applied;
  }
}

}  // namespace src
