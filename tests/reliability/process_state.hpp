#pragma once
// Whether this build's programs run under user-mode emulation, which changes what their memory
// use means.
#include <sys/types.h>
#include <sys/utsname.h>

#include <fstream>
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

}  // namespace reliability
