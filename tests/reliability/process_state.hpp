#pragma once
// What a child process is doing right now, read from /proc: enough to wait for a condition
// instead of for the clock.
#include <sys/types.h>

#include <fstream>
#include <string>

namespace reliability {

// Whether the process sleeps in clock_nanosleep (x86-64 and arm64 numbers), as the simulated
// bridge does while it delays an answer.
inline bool sleeping(pid_t pid) {
  std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
  std::string number;
  syscall >> number;
#if defined(__aarch64__)
  return number == "115";
#else
  return number == "230";
#endif
}

}  // namespace reliability
