#pragma once
// The level kept in the configuration file, as start-up reads it, and as ble-rangectl shows it:
// the one reading of the file, for both.
#include <cstdint>
#include <expected>
#include <string>

#include "src/conf/config_file.hpp"
#include "src/error.hpp"

namespace src {

// Loads the configuration file and gives the stored level, checked to lie in 0 to 30.
// BLOCKS on the file system. The file is only read.
std::expected<std::int8_t, Error> read_stored_level(const std::string& path);

// The stored level of an already loaded file.
std::expected<std::int8_t, Error> stored_level(const ConfigMap& config);

}  // namespace src
