#include "src/range_service.hpp"

#include <mutex>

#include "src/conf/config_file.hpp"
#include "src/tx_power_command.hpp"

namespace ranged {
namespace {

Error not_between(std::int32_t requested) {
  return Error("Bluetooth LE range " + std::to_string(requested) + " not between [" + std::to_string(lowest_level) +
               ", " + std::to_string(highest_level) + "]");
}

}  // namespace

std::shared_ptr<RangeService> RangeService::create(std::int8_t applied_level) {
  return std::make_shared<RangeService>(std::string(config_file_path), applied_level, &tx_power_command::run,
                                        &config_file::store);
}

RangeService::RangeService(std::string config_path, std::int8_t applied_level, RadioStep radio, FileStep file)
    : config_path_(std::move(config_path)), range_(applied_level), radio_(std::move(radio)), file_(std::move(file)) {}

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
  if (auto applied = radio_(level); !applied) {
    return std::unexpected(RangeRefusal{RangeRefusal::Reason::radio_failed, std::move(applied.error())});
  }
  range_ = level;
  // A file that cannot be written is complained about by the file step and does not undo a level
  // the radio already runs with.
  file_(config_path_, range_);
  return {};
}

}  // namespace ranged
