#pragma once
// The road from process start to a checked range level, and the one way the process ends.
#include <cstdint>
#include <expected>
#include <string>

#include "src/conf/config_file.hpp"
#include "src/error.hpp"

namespace src {

// Standard descriptors that were closed at start point at /dev/null, so that nothing we open
// later lands on 0, 1 or 2; SIGPIPE is ignored, so a write to a closed pipe or socket fails
// with an error instead of ending the process.
void prepare_process();

// Loads the configuration file and gives the stored level, checked to lie in 0 to 30.
// BLOCKS on the file system. The file is only read.
std::expected<std::int8_t, Error> read_stored_level(const std::string& path);

// The stored level of an already loaded file.
std::expected<std::int8_t, Error> stored_level(const ConfigMap& config);

// Writes the failure report to standard error and exits with status 1.
[[noreturn]] void exit_with_report(const Error& error);

}  // namespace src
