#include "bridge/process_runner.hpp"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/fd/unique_fd.hpp"

extern char** environ;

namespace bridge {
namespace {

using Clock = std::chrono::steady_clock;

using Fd = platform::UniqueFd;

struct Pipe {
  Fd read_end, write_end;
};

std::expected<Pipe, SpawnFailure> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(SpawnFailure{errno});
  return Pipe{Fd(fds[0]), Fd(fds[1])};
}

// The errno exec would fail with on this file, or 0 when it can be started.
int start_error(const std::string& path) noexcept {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EACCES;
  return ::access(path.c_str(), X_OK) == 0 ? 0 : errno;
}

// The errors after which exec goes on to the next PATH directory rather than giving up.
bool tries_next_directory(int error) noexcept {
  return error == ENOENT || error == EACCES || error == ENOTDIR || error == ENAMETOOLONG || error == ESTALE ||
         error == ENODEV || error == ETIMEDOUT;
}

// The file argv[0] names, found as execvp finds it: a name with a slash as it stands, a bare
// name in the PATH directories in order (an empty entry is the current directory), with
// "Permission denied" only when no directory had a startable file. Resolving it here, instead
// of leaving it to posix_spawnp, means a missing tool is reported as such everywhere: a spawn
// whose child cannot hand back the exec failure (some emulators) would only show exit 127.
std::expected<std::string, SpawnFailure> resolve_program(const std::string& name) {
  if (name.empty()) return std::unexpected(SpawnFailure{ENOENT});
  if (name.find('/') != std::string::npos) {
    if (int e = start_error(name)) return std::unexpected(SpawnFailure{e});
    return name;
  }
  if (name.size() > NAME_MAX) return std::unexpected(SpawnFailure{ENAMETOOLONG});
  const char* path_variable = std::getenv("PATH");
  const std::string_view search = path_variable != nullptr ? path_variable : "/bin:/usr/bin";
  bool denied = false;
  for (std::size_t start = 0; start <= search.size();) {
    const std::size_t end = std::min(search.find(':', start), search.size());
    const std::string_view directory = search.substr(start, end - start);
    start = end + 1;
    std::string candidate = directory.empty() ? name : std::string(directory) + "/" + name;
    const int e = start_error(candidate);
    if (e == 0) return candidate;
    if (!tries_next_directory(e)) return std::unexpected(SpawnFailure{e});
    denied = denied || e == EACCES;
  }
  return std::unexpected(SpawnFailure{denied ? EACCES : ENOENT});
}

class SpawnSetup {
 public:
  SpawnSetup() noexcept {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }

  int prepare(int stdout_fd, int stderr_fd) noexcept {
    if (int e = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0)) return e;
    if (int e = posix_spawn_file_actions_adddup2(&actions_, stdout_fd, 1)) return e;
    if (int e = posix_spawn_file_actions_adddup2(&actions_, stderr_fd, 2)) return e;
    // Everything is O_CLOEXEC already; this also covers descriptors some library left open.
    if (int e = posix_spawn_file_actions_addclosefrom_np(&actions_, 3)) return e;

    // The bridge ignores SIGPIPE; the tool must not inherit that, nor our mask.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    if (int e = posix_spawnattr_setsigdefault(&attributes_, &all)) return e;
    if (int e = posix_spawnattr_setsigmask(&attributes_, &none)) return e;
    if (int e = posix_spawnattr_setpgroup(&attributes_, 0)) return e;
    return posix_spawnattr_setflags(&attributes_,
                                    POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  }

  const posix_spawn_file_actions_t* actions() const noexcept { return &actions_; }
  const posix_spawnattr_t* attributes() const noexcept { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// One captured stream: what was kept and whether the writer is still there.
struct Capture {
  Fd fd;
  std::string& into;
  std::size_t limit;
  bool truncated = false;

  // Reads what is there; false at end of stream or on a read error.
  bool read_available() {
    char buffer[4096];
    ssize_t n;
    do {
      n = ::read(fd.get(), buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      fd.reset();
      return false;
    }
    const std::size_t room = limit > into.size() ? limit - into.size() : 0;
    const auto count = static_cast<std::size_t>(n);
    into.append(buffer, count < room ? count : room);
    if (count > room) truncated = true;
    return true;
  }
};

std::optional<int> try_reap(pid_t pid) noexcept {
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid) return status;
  return std::nullopt;
}

int reap_blocking(pid_t pid) noexcept {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

int poll_timeout(Clock::time_point deadline, bool have_pidfd) noexcept {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  // Without a pidfd the exit is only noticed by asking waitpid between polls.
  const long long slice = have_pidfd ? left : std::min<long long>(left, 20);
  return static_cast<int>(slice);
}

// What the tool wrote before it ended. Bounded by the deadline too, since something the tool
// left running may hold the pipe open and keep writing.
void drain_ready(std::array<Capture*, 2> captures, Clock::time_point deadline) {
  while (Clock::now() < deadline) {
    std::array<pollfd, 2> fds{};
    nfds_t count = 0;
    std::array<Capture*, 2> polled{};
    for (Capture* capture : captures)
      if (capture->fd) {
        fds[count] = {capture->fd.get(), POLLIN, 0};
        polled[count++] = capture;
      }
    if (count == 0 || ::poll(fds.data(), count, 0) <= 0) return;
    for (nfds_t i = 0; i < count; ++i)
      if (fds[i].revents) polled[i]->read_available();
  }
}

ProcessResult finish(int status, ProcessResult result) {
  if (WIFSIGNALED(status)) {
    result.end = ProcessResult::End::signalled;
    result.code = WTERMSIG(status);
  } else {
    result.end = ProcessResult::End::exited;
    result.code = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace

std::expected<ProcessResult, SpawnFailure> run_process(const std::vector<std::string>& argv, RunLimits limits) {
  if (argv.empty()) return std::unexpected(SpawnFailure{EINVAL});
  const auto program = resolve_program(argv[0]);
  if (!program) return std::unexpected(program.error());
  auto out = make_pipe();
  if (!out) return std::unexpected(out.error());
  auto err = make_pipe();
  if (!err) return std::unexpected(err.error());

  SpawnSetup setup;
  if (int e = setup.prepare(out->write_end.get(), err->write_end.get())) return std::unexpected(SpawnFailure{e});

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  const Clock::time_point deadline = Clock::now() + limits.time_limit;
  if (int e = ::posix_spawn(&pid, program->c_str(), setup.actions(), setup.attributes(), args.data(), environ))
    return std::unexpected(SpawnFailure{e});
  out->write_end.reset();
  err->write_end.reset();

  // Exit is watched through a pidfd; the unreaped child keeps its pid, so this cannot race.
  const Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

  ProcessResult result;
  Capture captures[2] = {{std::move(out->read_end), result.output, limits.output_limit},
                         {std::move(err->read_end), result.errors, limits.output_limit}};
  std::optional<int> status;
  while (!status) {
    std::array<pollfd, 3> fds{};
    std::array<Capture*, 3> polled{};
    nfds_t count = 0;
    for (Capture& capture : captures)
      if (capture.fd) {
        fds[count] = {capture.fd.get(), POLLIN, 0};
        polled[count++] = &capture;
      }
    if (pidfd) fds[count++] = {pidfd.get(), POLLIN, 0};

    const int timeout = poll_timeout(deadline, bool(pidfd));
    const int ready = count == 0 ? 0 : ::poll(fds.data(), count, timeout);
    if (ready < 0 && errno != EINTR) break;  // cannot wait any more: treat as a timeout below
    for (nfds_t i = 0; i < count && ready > 0; ++i)
      if (fds[i].revents && polled[i]) polled[i]->read_available();

    status = try_reap(pid);
    if (!status && Clock::now() >= deadline) break;
    if (!status && count == 0 && !pidfd) {
      // Both streams closed and no pidfd: wait for the exit in short slices up to the deadline.
      pollfd none{-1, 0, 0};
      ::poll(&none, 1, poll_timeout(deadline, false));
    }
  }

  if (status) {
    // Nothing the tool started outlives its run (its process group id stays reserved while
    // any member lives, so this cannot reach a stranger).
    ::kill(-pid, SIGKILL);
    drain_ready({&captures[0], &captures[1]}, deadline);
    result.truncated = captures[0].truncated || captures[1].truncated;
    return finish(*status, std::move(result));
  }

  // Out of time: the tool and anything it started go, then the leader is reaped.
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  reap_blocking(pid);
  result.end = ProcessResult::End::timed_out;
  result.code = SIGKILL;
  result.truncated = captures[0].truncated || captures[1].truncated;
  return result;
}

}  // namespace bridge
