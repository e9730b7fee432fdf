#include "ctl/stop_signals.hpp"

#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstring>

namespace ctl {

std::expected<StopSignals, std::string> StopSignals::open() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) return std::unexpected(std::string(std::strerror(errno)));
  platform::UniqueFd fd(::signalfd(-1, &stops, SFD_CLOEXEC));
  if (!fd) return std::unexpected(std::string("signalfd: ") + std::strerror(errno));
  return StopSignals(std::move(fd));
}

}  // namespace ctl
