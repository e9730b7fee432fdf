#pragma once
// The time stamp of a line that `ble-rangectl watch` prints: local time in ISO 8601, to the
// millisecond, with the offset from UTC ("2026-12-07T11:57:27.028+01:00"), so that lines sort
// and read alike in a log and a terminal.
#include <chrono>
#include <string>

namespace ctl {

std::string timestamp(std::chrono::system_clock::time_point when);

}  // namespace ctl
