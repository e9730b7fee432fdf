#pragma once
// Signals as input: blocked for the calling thread, so they stay pending instead of interrupting
// it, and read from a descriptor that a poll loop watches beside its others. Header-only like
// UniqueFd, for every program's one thread.
#include <signal.h>
#include <sys/signalfd.h>

#include <expected>
#include <initializer_list>
#include <string_view>

#include "platform/fd/unique_fd.hpp"

namespace platform {

// On failure, the step that failed ("sigprocmask" or "signalfd"), with errno as it left it.
inline std::expected<UniqueFd, std::string_view> blocked_signals_fd(std::initializer_list<int> signals, int flags) {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : signals) sigaddset(&set, number);
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return std::unexpected(std::string_view("sigprocmask"));
  UniqueFd fd(::signalfd(-1, &set, flags | SFD_CLOEXEC));
  if (!fd) return std::unexpected(std::string_view("signalfd"));
  return fd;
}

}  // namespace platform
