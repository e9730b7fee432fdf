#include "ctl/stop_signals.hpp"

#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstring>

#include "platform/fd/signal_fd.hpp"

namespace ctl {

std::expected<StopSignals, std::string> StopSignals::open() {
  auto fd = platform::blocked_signals_fd({SIGINT, SIGTERM}, 0);
  if (!fd) {
    // The mask's failure is told by its cause alone, as it always was.
    const std::string cause = std::strerror(errno);
    return std::unexpected(fd.error() == "signalfd" ? "signalfd: " + cause : cause);
  }
  return StopSignals(std::move(*fd));
}

}  // namespace ctl
