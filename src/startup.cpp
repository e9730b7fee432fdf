#include "src/startup.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace src {
namespace {

// A closed standard descriptor would be handed to the next open(), and our own lines on
// standard output or error would then go into a file or a bus socket.
void reopen_on_dev_null(int fd) {
  if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  int opened = ::open("/dev/null", O_RDWR);
  if (opened == fd) return;
  if (opened < 0 || ::dup2(opened, fd) != fd) {
    static constexpr std::string_view text = "Error: couldn't open /dev/null for a closed standard descriptor\n";
    [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, text.data(), text.size());
    std::abort();
  }
  ::close(opened);
}

}  // namespace

void prepare_process() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) reopen_on_dev_null(fd);
  std::signal(SIGPIPE, SIG_IGN);
}

void exit_with_report(const Error& error) {
  std::fflush(stdout);
  const std::string report = error.report();
  // A report that cannot be written is dropped: there is nobody left to tell.
  std::string_view rest = report;
  while (!rest.empty()) {
    ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  std::exit(1);
}

}  // namespace src
