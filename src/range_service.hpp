#pragma once
// The state behind /com/orbo/RIDEviva: the held range level and the file that keeps it.
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>

#include "src/error.hpp"

namespace ranged {

// The range levels the service takes, whether stored in the file or set on the bus.
inline constexpr std::int32_t lowest_level = 0;
inline constexpr std::int32_t highest_level = 30;

// Why a new level was not taken.
struct RangeRefusal {
  enum class Reason { out_of_range, radio_failed };
  Reason reason;
  Error error;
};

class RangeService {
 public:
  // Puts a level on the radio (production: tx_power_command::run). May BLOCK for seconds.
  using RadioStep = std::function<std::expected<void, Error>(std::int8_t level)>;
  // Persists a level (production: config_file::store, which reports its own failures).
  using FileStep = std::function<void(const std::string& path, std::int8_t level)>;

  // The production service: tx_power_command::run, config_file::store and the configuration file.
  static std::shared_ptr<RangeService> create(std::int8_t applied_level);

  RangeService(std::string config_path, std::int8_t applied_level, RadioStep radio, FileStep file);

  std::int8_t range() const;
  const std::string& config_path() const noexcept { return config_path_; }

  // Applies the level to the radio and, only once the radio took it, holds and persists it.
  // Holds the lock exclusively throughout, so it BLOCKS as long as the radio step does.
  std::expected<void, RangeRefusal> set_range(std::int32_t requested);

 private:
  mutable std::shared_mutex lock_;
  std::string config_path_;
  std::int8_t range_;
  RadioStep radio_;
  FileStep file_;
};

}  // namespace ranged
