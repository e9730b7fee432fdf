#pragma once
// Whether hcitool-bridge is known to hold the level the service holds. The bridge keeps the last
// level we told it, restores it at every power-on and reset, and forgets it when it restarts; a
// call that got no answer may have reached it or not. So whenever the service cannot be sure (a
// call ended without an answer, the bridge's name changed hands or was dropped), the held level
// is sent again, until the bridge has taken it: soon at first, then less and less often, the
// first failure and the recovery logged once each.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "src/error.hpp"

namespace src {

class BridgeKnowledge {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  struct Limits {
    // After a failed try the next comes this much later, doubling up to the longest: a bridge
    // that answers (the radio switched off, a refusal) is asked again within 4 s, as start-up
    // does; one that does not answer costs up to 5 s of the service's thread a try, so it is
    // asked again at most every 30 s, and at once when the name gets a new owner.
    std::chrono::milliseconds first_retry{500};
    std::chrono::milliseconds longest_after_answer{4000};
    std::chrono::milliseconds longest_after_silence{30000};
  };

  explicit BridgeKnowledge(Limits limits) : limits_(limits) {}
  BridgeKnowledge() : BridgeKnowledge(Limits{}) {}

  bool known() const noexcept { return !resend_at_; }
  // The bridge may not hold the level any more; `why` says so in the log ("a call got no
  // answer"). The level goes again at `at`, or sooner if it was due sooner.
  void lost(std::string why, TimePoint at);
  // A call carrying a level got no answer: the level goes again after the first pause, which
  // also lets the loop notice first a bus that went away with it.
  void call_unanswered(TimePoint now) { lost("a call got no answer", now + limits_.first_retry); }
  // When the held level is to be sent again; none while the bridge is known to hold it.
  std::optional<TimePoint> resend_at() const noexcept { return resend_at_; }

  // The bridge took `level`, the held one (a re-send, or a Set). Logs the recovery after
  // failed tries.
  void took(std::int8_t level);
  // Sending the held level again failed: tried again later. Logs the first failure.
  void resend_failed(std::int8_t level, const Error& failure, TimePoint now);

 private:
  Limits limits_;
  std::optional<TimePoint> resend_at_;
  std::string why_;
  std::chrono::milliseconds next_pause_{0};
  int failed_tries_ = 0;
};

}  // namespace src
