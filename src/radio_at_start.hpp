#pragma once
// The stored level reaches the radio before the service joins the bus, so that a service whose
// radio cannot be set never owns its name. A controller that is there but switched off (by the
// user, by rfkill, or because nothing powers it) is a state, not a failure: the service says so
// once, tells its supervisor that it is up, and tries again until the controller is switched on,
// more rarely the longer it stays off. A controller that does not know the command at all never
// will: start-up ends with a status of its own, which supervisors do not restart. Any other
// failure ends start-up with its report, as the supervisor then restarts the service.
#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <string_view>

#include "src/conf/range_service.hpp"
#include "src/error.hpp"

namespace src {

// The pause after the first try that found the controller switched off; it doubles after each
// further one, up to the longest. A controller switched on is served within that, plus one try.
inline constexpr std::chrono::milliseconds first_retry{500};
inline constexpr std::chrono::milliseconds longest_retry{4000};

// Whether a radio failure says the controller is there but switched off: the bridge then quotes
// the system's own words for ENETDOWN, from its socket's write or from the tool's output.
bool switched_off(const Error& failure);

// Whether the bridge could not tell if the controller took the level: its answer may have been
// the late answer to an earlier command (a start-up right after a restart while the controller
// owed one). The bridge stops doubting within 15 s; start-up tries again, quietly, that long.
bool doubted(const Error& failure);
inline constexpr std::chrono::milliseconds longest_doubt{20000};

// The exit status when the controller does not know the transmit-power command (it answers
// status 1, Unknown HCI Command). The unit's RestartPreventExitStatus= and the init script name
// it; systemd shows it as NOTIMPLEMENTED.
inline constexpr int unknown_command_status = 3;

// Whether a radio failure is the controller refusing the command as unknown.
bool command_unknown(const Error& failure);

// The report of that failure: the controller's refusal, and why nothing tries again.
Error unknown_command_report(const Error& failure);

// What the wait does besides trying, so that tests can watch it.
struct StartUpWait {
  std::function<void(std::chrono::milliseconds)> pause;  // BLOCKS that long
  std::function<void(std::string_view line)> say;        // one line for the log, without its line feed
  std::function<void(std::string_view state)> notify;    // a notice for the supervisor
};

// Pauses with the thread, says on standard output, notifies systemd.
StartUpWait real_start_up_wait();

// Applies `level` through `radio`, waiting while the controller is switched off. BLOCKS as long
// as it stays switched off, and up to 5 s per try on the bridge.
std::expected<void, Error> apply_at_start(Radio& radio, std::int8_t level, const StartUpWait& wait);

}  // namespace src
