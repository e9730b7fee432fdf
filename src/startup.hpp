#pragma once
// The road from process start to a checked range level (src/conf/stored_level.hpp), and the one
// way the process ends.
#include "src/conf/stored_level.hpp"
#include "src/error.hpp"

namespace src {

// Standard descriptors that were closed at start point at /dev/null, so that nothing we open
// later lands on 0, 1 or 2; SIGPIPE is ignored, so a write to a closed pipe or socket fails
// with an error instead of ending the process.
void prepare_process();

// Writes the failure report to standard error and exits with status 1.
[[noreturn]] void exit_with_report(const Error& error);

}  // namespace src
