#pragma once
// The INI file that keeps the range level: read whole into a map at start-up, rewritten whole
// on every accepted change.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "src/conf/range_service.hpp"

namespace src {

inline constexpr std::string_view config_file_path = "/etc/wireless/bluetooth.conf";

// Key name (lower-cased) to its value: a text with its case kept, or nothing when the key's
// line had no "=".
using KeyMap = std::unordered_map<std::string, std::optional<std::string>>;
// Section name (lower-cased) to its keys. A section exists only once a key line stood under it.
using ConfigMap = std::unordered_map<std::string, KeyMap>;

namespace config_file {

// The whole file, or the one text that says why not ("couldn't open ...", "couldn't read ...",
// "line N:M: ..."). A file over 64 KiB is refused unread beyond that ("couldn't read PATH:
// larger than 65536 bytes"), so a device file in its place cannot exhaust memory.
// BLOCKS on the file system.
std::expected<ConfigMap, std::string> load(const std::string& path);
// The INI rules on text that is already known to be UTF-8.
std::expected<ConfigMap, std::string> parse(std::string_view utf8);

// Replaces the file with the one setting through libcfgkit. A failure is complained about on
// standard error and not handed back: the level held in memory stays the truth.
// BLOCKS until the file and its directory are synced.
void store(const std::string& path, std::int8_t level);
// "[Bluetooth]\nRange = N\n".
std::string contents_for(std::int8_t level);

}  // namespace config_file

// The level kept in the configuration file at `path`, which config_file::store rewrites whole.
class ConfigFileStore final : public LevelStore {
 public:
  explicit ConfigFileStore(std::string path) : path_(std::move(path)) {}
  // BLOCKS until the file and its directory are synced.
  void store(std::int8_t level) override { config_file::store(path_, level); }

 private:
  std::string path_;
};

}  // namespace src
