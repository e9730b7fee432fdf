#include "src/conf/range_service.hpp"

#include <chrono>
#include <mutex>
#include <string>
#include <utility>

namespace src {
namespace {

Error not_between(std::int32_t requested) {
  return Error("Bluetooth LE range " + std::to_string(requested) + " not between [" + std::to_string(lowest_level) +
               ", " + std::to_string(highest_level) + "]");
}

}  // namespace

RangeService::RangeService(std::int8_t applied_level, std::unique_ptr<Radio> radio, std::unique_ptr<LevelStore> store)
    : range_(applied_level), radio_(std::move(radio)), store_(std::move(store)) {}

std::int8_t RangeService::range() const {
  std::shared_lock hold(lock_);
  return range_;
}

std::expected<void, RangeRefusal> RangeService::set_range(std::int32_t requested) {
  std::unique_lock hold(lock_);
  if (requested < lowest_level || requested > highest_level) {
    return std::unexpected(RangeRefusal{RangeRefusal::Reason::out_of_range, not_between(requested)});
  }
  const auto level = static_cast<std::int8_t>(requested);
  // The radio goes first: a level the controller refuses would otherwise be held and persisted,
  // and every later start-up would fail on it while applying the stored level.
  if (auto applied = radio_->apply(level); !applied) {
    // Unanswered, it may have reached the radio all the same: the radio then runs with a level
    // nobody holds, until the held one is sent again.
    if (applied.error().outcome_unknown()) bridge_.call_unanswered(std::chrono::steady_clock::now());
    return std::unexpected(RangeRefusal{RangeRefusal::Reason::radio_failed, std::move(applied.error())});
  }
  bridge_.took(level);
  range_ = level;
  // A level that cannot be stored is complained about by the store and does not undo a level the
  // radio already runs with.
  store_->store(range_);
  return {};
}

}  // namespace src

namespace src {

void RangeService::radio_may_have_lost(std::string why, BridgeKnowledge::TimePoint at) {
  std::unique_lock hold(lock_);
  bridge_.lost(std::move(why), at);
}

std::optional<BridgeKnowledge::TimePoint> RangeService::resend_at() const {
  std::shared_lock hold(lock_);
  return bridge_.resend_at();
}

void RangeService::resend_if_due(BridgeKnowledge::TimePoint now) {
  std::unique_lock hold(lock_);
  if (!bridge_.resend_at() || *bridge_.resend_at() > now) return;
  // BLOCKS as long as the radio does.
  if (auto applied = radio_->apply(range_); !applied) {
    return bridge_.resend_failed(range_, applied.error(), std::chrono::steady_clock::now());
  }
  bridge_.took(range_);
}

}  // namespace src
