#include "src/conf/bridge_knowledge.hpp"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace src {
namespace {

constexpr std::string_view bridge = "hcitool-bridge";

// Nobody may be reading; a line that cannot be written is lost.
void say(std::FILE* stream, const std::string& line) {
  std::fputs((line + "\n").c_str(), stream);
  std::fflush(stream);
}

std::string tries(int count) { return std::to_string(count) + (count == 1 ? " failed try" : " failed tries"); }

}  // namespace

void BridgeKnowledge::lost(std::string why, TimePoint at) {
  why_ = std::move(why);
  if (!resend_at_ || at < *resend_at_) resend_at_ = at;
  if (failed_tries_ == 0) next_pause_ = limits_.first_retry;
}

void BridgeKnowledge::took(std::int8_t level) {
  if (resend_at_ && failed_tries_ > 0)
    say(stdout,
        std::string(bridge) + " holds the range " + std::to_string(level) + " again after " + tries(failed_tries_));
  resend_at_.reset();
  failed_tries_ = 0;
}

void BridgeKnowledge::resend_failed(std::int8_t level, const Error& failure, TimePoint now) {
  if (failed_tries_++ == 0)
    say(stderr, "Error: " + std::string(bridge) + " may not hold the range " + std::to_string(level) + " (" + why_ +
                    "), and sending it again failed: " + failure.message() + "; trying again");
  const auto longest = failure.outcome_unknown() ? limits_.longest_after_silence : limits_.longest_after_answer;
  const auto pause = std::min(std::max(next_pause_, limits_.first_retry), longest);
  resend_at_ = now + pause;
  next_pause_ = std::min(pause * 2, longest);
}

}  // namespace src
