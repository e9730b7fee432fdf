#pragma once
// Death tests match standard error with a regular expression; this turns a text into one that
// matches exactly that text and a line feed, nothing more. Under user-mode emulation the
// emulator reports the fatal signal itself, on a line of its own after everything the program
// wrote; that one line, and only there, is allowed in addition.
#include <sys/utsname.h>

#include <fstream>
#include <string>
#include <string_view>

// An emulated program is told the emulated machine by uname, while the kernel's own record of
// its machine, which emulators pass through untouched, names the machine it really runs on.
inline bool running_under_emulation() {
  utsname self{};
  if (::uname(&self) != 0) return false;
  std::ifstream kernel("/proc/sys/kernel/arch");
  std::string machine;
  return kernel >> machine && machine != self.machine;
}

inline std::string exactly(std::string_view text) {
  std::string pattern = "^";
  for (char c : text) {
    if (std::string_view(".[]{}()\\*+?|^$").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  pattern += '\n';
  if (running_under_emulation()) pattern += "(qemu: [^\n]*\n)?";
  return pattern + "$";
}
