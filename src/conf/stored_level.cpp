#include "src/conf/stored_level.hpp"

#include <string_view>

#include "src/conf/range_service.hpp"
#include "text/parse_int.hpp"

namespace src {
namespace {

constexpr std::string_view level_section = "bluetooth";
constexpr std::string_view level_key = "range";

std::expected<std::int8_t, Error> checked_level(std::int8_t level) {
  if (level < lowest_level || level > highest_level) {
    return std::unexpected(Error("Bluetooth LE range " + std::to_string(level) + " is out of range"));
  }
  return level;
}

}  // namespace

std::expected<std::int8_t, Error> stored_level(const ConfigMap& config) {
  auto section = config.find(std::string(level_section));
  if (section == config.end()) return std::unexpected(Error("No section"));
  auto key = section->second.find(std::string(level_key));
  if (key == section->second.end()) return std::unexpected(Error("No key"));
  if (!key->second) return std::unexpected(Error("No value"));

  auto level = text::parse_i8(*key->second);
  if (!level) return std::unexpected(Error(std::string(text::message(level.error()))));
  return checked_level(*level);
}

std::expected<std::int8_t, Error> read_stored_level(const std::string& path) {
  auto config = config_file::load(path);
  if (!config) return std::unexpected(Error(std::move(config.error())));
  return stored_level(*config);
}

}  // namespace src
