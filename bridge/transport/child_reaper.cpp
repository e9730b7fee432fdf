#include "bridge/transport/child_reaper.hpp"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

#include "bridge/concat.hpp"
#include "platform/fd/signal_fd.hpp"

namespace bridge {
namespace {

// Our children, as the kernel lists them per thread of ours (zombies included).
std::vector<pid_t> children() {
  std::vector<pid_t> pids;
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return pids;
  while (const dirent* task = ::readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream list(concat("/proc/self/task/", std::string_view(task->d_name), "/children"));
    for (pid_t pid = 0; list >> pid;) pids.push_back(pid);
  }
  ::closedir(tasks);
  return pids;
}

}  // namespace

std::expected<ChildReaper, std::string> ChildReaper::adopt_orphans() {
  const auto failed = [](std::string_view step) { return std::unexpected(concat(step, ": ", std::strerror(errno))); };
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0) return failed("prctl");
  auto fd = platform::blocked_signals_fd({SIGCHLD}, SFD_NONBLOCK);
  if (!fd) return failed(fd.error());
  return ChildReaper(std::move(*fd));
}

bool ChildReaper::announced() {
  // Only a wake-up: who ended is asked of each child.
  bool any = false;
  signalfd_siginfo info;
  while (::read(fd_.get(), &info, sizeof info) > 0) any = true;
  return any;
}

void ChildReaper::end_all_but(const std::set<pid_t>& running) {
  // A child, reaped or not, is ours alone: its pid cannot pass to a stranger before we reap it.
  for (const pid_t child : children()) {
    if (running.contains(child)) continue;
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace bridge
