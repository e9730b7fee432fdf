#include "ctl/standard_streams.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace ctl {
namespace {

bool is_closed(int fd) { return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

// Every byte of `text`, retried where a signal interrupted the write.
std::expected<void, std::string> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return std::unexpected(std::string(std::strerror(errno)));
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace

std::expected<void, std::string> prepare_standard_streams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (!is_closed(fd)) continue;
    // The lowest free number: `fd` itself, as the ones below it are open by now.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened != fd) {
      const std::string why = opened < 0 ? std::strerror(errno) : "it did not take the closed number";
      if (opened >= 0) ::close(opened);
      return std::unexpected("cannot open /dev/null in place of closed descriptor " + std::to_string(fd) + ": " + why);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  return {};
}

std::expected<void, std::string> write_output(std::string_view text) { return write_all(STDOUT_FILENO, text); }

void write_error_line(std::string_view line) {
  std::string text(line);
  text += '\n';
  (void)write_all(STDERR_FILENO, text);
}

}  // namespace ctl
