#include "bridge/bus/caller_check.hpp"

#include <algorithm>

#include "bridge/concat.hpp"

namespace bridge {

void CallerCheck::identify(std::string_view sender, TimePoint deadline, CallerAnswer then) {
  const auto known = std::ranges::find_if(known_, [&](const auto& entry) { return entry.first == sender; });
  if (known != known_.end()) return then(known->second);
  const auto asked = std::ranges::find_if(asked_, [&](const Question& question) { return question.sender == sender; });
  if (asked != asked_.end()) return asked->waiting.push_back({deadline, std::move(then)});
  const std::uint32_t serial = connection_.ask_unix_user(sender);
  if (serial == 0) return then(std::unexpected(CallerUnknown{false, "the bus daemon could not be asked"}));
  asked_.push_back({std::string(sender), serial, {}});
  asked_.back().waiting.push_back({deadline, std::move(then)});
}

bool CallerCheck::take_reply(const dbus::Message& reply) {
  const auto asked =
      std::ranges::find_if(asked_, [&](const Question& question) { return question.serial == reply.reply_serial(); });
  if (asked == asked_.end()) return false;
  Question question = std::move(*asked);
  asked_.erase(asked);
  const auto uid = dbus::unix_user_answer(reply);
  if (!uid) {
    answer(std::move(question), std::unexpected(CallerUnknown{false, uid.error().text()}));
    return true;
  }
  known_.emplace_back(question.sender, *uid);
  if (known_.size() > kept_answers) known_.pop_front();
  answer(std::move(question), *uid);
  return true;
}

void CallerCheck::answer(Question question, const std::expected<uid_t, CallerUnknown>& answer) {
  for (Waiting& waiting : question.waiting) waiting.then(answer);
}

void CallerCheck::expire(TimePoint now) {
  for (Question& question : asked_) {
    // A sender's calls wait in their order, and each has the same time.
    auto& waiting = question.waiting;
    const auto over = std::ranges::find_if(waiting, [&](const Waiting& call) { return call.deadline > now; });
    std::vector<Waiting> ended(std::make_move_iterator(waiting.begin()), std::make_move_iterator(over));
    waiting.erase(waiting.begin(), over);
    for (Waiting& call : ended)
      call.then(std::unexpected(CallerUnknown{true, "the bus daemon did not answer in time"}));
  }
  // A question nobody waits for any more is forgotten; a late answer to it is ignored.
  std::erase_if(asked_, [](const Question& question) { return question.waiting.empty(); });
}

std::optional<TimePoint> CallerCheck::wake_time() const {
  std::optional<TimePoint> soonest;
  for (const Question& question : asked_)
    if (!question.waiting.empty() && (!soonest || question.waiting.front().deadline < *soonest))
      soonest = question.waiting.front().deadline;
  return soonest;
}

}  // namespace bridge
