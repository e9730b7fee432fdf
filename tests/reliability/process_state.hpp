#pragma once
// What a child process is doing right now, read from /proc: enough to wait for a condition
// instead of for the clock.
#include <sys/types.h>
#include <sys/utsname.h>

#include <fstream>
#include <stdexcept>
#include <string>

namespace reliability {

// The machine whose system call numbers /proc reports: the kernel's. Under user-mode emulation
// that is not ours: an emulated program's calls reach the kernel as the build machine's calls,
// and uname names the emulated machine, so this asks the kernel directly.
inline std::string kernel_machine() {
  std::ifstream arch("/proc/sys/kernel/arch");
  std::string machine;
  if (arch >> machine) return machine;
  utsname self{};
  return ::uname(&self) == 0 ? self.machine : "";
}

// Whether this build's programs run under user-mode emulation: uname then names the emulated
// machine while the kernel still names its own.
inline bool running_under_emulation() {
  utsname self{};
  return ::uname(&self) == 0 && kernel_machine() != self.machine;
}

// The number of clock_nanosleep on the kernel's machine. Throws for a machine not listed here,
// since a wait on a condition that can never hold would pass or fail for the wrong reason.
inline std::string clock_nanosleep_number() {
  const std::string machine = kernel_machine();
  if (machine == "x86_64") return "230";
  if (machine == "aarch64") return "115";
  throw std::runtime_error("the number of clock_nanosleep on " + machine + " is not known here");
}

// Whether the process sleeps in clock_nanosleep, as the simulated bridge does while it delays
// an answer.
inline bool sleeping(pid_t pid) {
  static const std::string sleep_call = clock_nanosleep_number();
  std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
  std::string number;
  syscall >> number;
  return number == sleep_call;
}

}  // namespace reliability
