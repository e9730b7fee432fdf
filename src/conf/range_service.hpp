#pragma once
// The state behind /com/orbo/RIDEviva: the held range level, the radio it is applied to and
// the store that keeps it.
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>

#include "contract/range_interface.hpp"
#include "src/conf/bridge_knowledge.hpp"
#include "src/error.hpp"

namespace src {

// The range levels the service takes, whether stored in the file or set on the bus.
inline constexpr std::int32_t lowest_level = contract::lowest_level;
inline constexpr std::int32_t highest_level = contract::highest_level;

// Why a new level was not taken.
struct RangeRefusal {
  enum class Reason { out_of_range, radio_failed };
  Reason reason;
  Error error;
};

// Puts a level on the radio. Production: BridgeRadio (src/tx_power_command.hpp).
class Radio {
 public:
  virtual ~Radio() = default;
  // May BLOCK for seconds.
  virtual std::expected<void, Error> apply(std::int8_t level) = 0;
};

// Keeps a level for the next start. Production: ConfigFileStore (src/conf/config_file.hpp).
class LevelStore {
 public:
  virtual ~LevelStore() = default;
  // Reports its own failures and hands none back: the level held in memory stays the truth.
  // May BLOCK on the file system.
  virtual void store(std::int8_t level) = 0;
};

class RangeService {
 public:
  RangeService(std::int8_t applied_level, std::unique_ptr<Radio> radio, std::unique_ptr<LevelStore> store);

  std::int8_t range() const;

  // Applies the level to the radio and, only once the radio took it, holds and stores it.
  // Holds the lock exclusively throughout, so it BLOCKS as long as the radio does. A level
  // that got no answer is not held, but the radio may have taken it: the held level goes again.
  std::expected<void, RangeRefusal> set_range(std::int32_t requested);

  // Whether the radio holds the held level, as far as the service can tell (BridgeKnowledge).
  // The radio may have lost it for `why`; it is sent again from `at` on.
  void radio_may_have_lost(std::string why, BridgeKnowledge::TimePoint at);
  std::optional<BridgeKnowledge::TimePoint> resend_at() const;
  // Sends the held level again if it is due by `now`. BLOCKS as long as the radio does.
  void resend_if_due(BridgeKnowledge::TimePoint now);

 private:
  mutable std::shared_mutex lock_;
  std::int8_t range_;
  std::unique_ptr<Radio> radio_;
  std::unique_ptr<LevelStore> store_;
  BridgeKnowledge bridge_;
};

}  // namespace src
