#include "bridge/transport/tool_run.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>

extern char** environ;

namespace bridge {
namespace {

using Fd = platform::UniqueFd;

struct Pipe {
  Fd read_end, write_end;
};

// Only our end is non-blocking: the flag would be shared with the program's standard output.
std::expected<Pipe, SpawnFailure> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(SpawnFailure{errno});
  Pipe pipe{Fd(fds[0]), Fd(fds[1])};
  if (::fcntl(pipe.read_end.get(), F_SETFL, O_NONBLOCK) != 0) return std::unexpected(SpawnFailure{errno});
  return pipe;
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
// of leaving it to a PATH-searching exec, means a missing tool is reported as such everywhere: a spawn
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

// The child's errno, to the parent waiting on `report`, and its end.
[[noreturn]] void report_failure(int report) noexcept {
  const int error = errno;
  [[maybe_unused]] const auto written = ::write(report, &error, sizeof error);
  ::_exit(127);
}

// The child's side of a start, between fork and exec: async-signal-safe calls only.
[[noreturn]] void become_program(const char* program, char* const* argv, int output, int errors, int report,
                                 pid_t bridge) noexcept {
  const auto fail = [report] { report_failure(report); };
  // Killed with the bridge, so that a tool never outlives it where no service manager ends its
  // group. A bridge that died before the request had already made this process an orphan.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail();
  if (::getppid() != bridge) ::_exit(127);
  if (::setpgid(0, 0) != 0) fail();
  // The bridge ignores SIGPIPE and blocks the signals it reads through descriptors: the tool must
  // inherit neither. SIGKILL and SIGSTOP refuse, and need nothing.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0) fail();
  const int null = ::open("/dev/null", O_RDONLY);
  if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(errors, 2) < 0) fail();
  // Everything is O_CLOEXEC already; this also covers descriptors some library left open, and
  // keeps `report` open until the exec.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) fail();
  ::execve(program, argv, environ);
  report_failure(report);
}

std::optional<int> try_reap(pid_t pid) noexcept {
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid) return status;
  return std::nullopt;
}

// What is still in a pipe after the program ended is read up to this much more than is kept:
// something it left running could otherwise keep the loop reading.
constexpr std::size_t drain_slack = 64 * 1024;

}  // namespace

std::expected<ToolRun, SpawnFailure> ToolRun::start(const std::vector<std::string>& argv, std::size_t output_limit) {
  if (argv.empty()) return std::unexpected(SpawnFailure{EINVAL});
  const auto program = resolve_program(argv[0]);
  if (!program) return std::unexpected(program.error());
  auto out = make_pipe();
  if (!out) return std::unexpected(out.error());
  auto err = make_pipe();
  if (!err) return std::unexpected(err.error());

  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return std::unexpected(SpawnFailure{errno});
  Fd report_read(report[0]), report_write(report[1]);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  const pid_t bridge = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) return std::unexpected(SpawnFailure{errno});
  if (pid == 0)
    become_program(program->c_str(), args.data(), out->write_end.get(), err->write_end.get(), report_write.get(),
                   bridge);
  // Also here: the group must exist before anything kills it, whichever side runs first (once
  // the program runs, this fails harmlessly).
  ::setpgid(pid, pid);
  report_write.reset();
  // BLOCKS until the exec closes the report, or the child says why it failed.
  int error = 0;
  ssize_t n;
  do {
    n = ::read(report_read.get(), &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof error)) {
    // It exits right after its report: this wait is as short.
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::unexpected(SpawnFailure{error});
  }
  // The end is watched through a pidfd; the unreaped child keeps its pid, so this cannot race.
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  return ToolRun(pid, std::move(pidfd), std::move(out->read_end), std::move(err->read_end), output_limit);
}

ToolRun::ToolRun(pid_t pid, Fd pidfd, Fd output, Fd errors, std::size_t limit) noexcept
    : pid_(pid),
      pidfd_(std::move(pidfd)),
      output_{std::move(output), {}, false},
      errors_{std::move(errors), {}, false},
      limit_(limit) {}

ToolRun::ToolRun(ToolRun&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::move(other.pidfd_)),
      output_(std::move(other.output_)),
      errors_(std::move(other.errors_)),
      limit_(other.limit_) {}

ToolRun& ToolRun::operator=(ToolRun&& other) noexcept {
  if (this != &other) {
    static_cast<void>(kill());
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::move(other.pidfd_);
    output_ = std::move(other.output_);
    errors_ = std::move(other.errors_);
    limit_ = other.limit_;
  }
  return *this;
}

// Without a transport to hand it to, a program stuck in the kernel is left to the child reaper.
ToolRun::~ToolRun() { static_cast<void>(kill()); }

std::vector<int> ToolRun::fds() const {
  std::vector<int> fds;
  for (const Fd* fd : {&output_.fd, &errors_.fd, &pidfd_})
    if (*fd) fds.push_back(fd->get());
  return fds;
}

bool ToolRun::read_available(Capture& capture, std::size_t budget) const {
  while (capture.fd && budget > 0) {
    char buffer[4096];
    const ssize_t n = ::read(capture.fd.get(), buffer, std::min(sizeof buffer, budget));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) {
      capture.fd.reset();
      return false;
    }
    const auto count = static_cast<std::size_t>(n);
    const std::size_t room = limit_ > capture.text.size() ? limit_ - capture.text.size() : 0;
    capture.text.append(buffer, std::min(count, room));
    if (count > room) capture.truncated = true;
    budget -= count;
  }
  return static_cast<bool>(capture.fd);
}

std::optional<ProcessResult> ToolRun::step() {
  if (pid_ <= 0) return std::nullopt;
  // Far more than a pipe holds, so a program waiting for room gets it; bounded all the same, so
  // that a flood cannot keep the loop here.
  constexpr std::size_t step_budget = 256 * 1024;
  read_available(output_, step_budget);
  read_available(errors_, step_budget);
  const auto status = try_reap(pid_);
  if (!status) return std::nullopt;
  // Nothing the program started outlives its run (its process group id stays reserved while
  // any member lives, so this cannot reach a stranger).
  ::kill(-pid_, SIGKILL);
  pid_ = -1;
  pidfd_.reset();
  read_available(output_, drain_slack);
  read_available(errors_, drain_slack);
  output_.fd.reset();
  errors_.fd.reset();

  ProcessResult result;
  if (WIFSIGNALED(*status)) {
    result.end = ProcessResult::End::signalled;
    result.code = WTERMSIG(*status);
  } else {
    result.code = WEXITSTATUS(*status);
  }
  result.output = std::move(output_.text);
  result.errors = std::move(errors_.text);
  result.truncated = output_.truncated || errors_.truncated;
  return result;
}

std::optional<pid_t> ToolRun::kill() {
  if (pid_ <= 0) return std::nullopt;
  const pid_t pid = std::exchange(pid_, -1);
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  pidfd_.reset();
  output_.fd.reset();
  errors_.fd.reset();
  if (try_reap(pid)) return std::nullopt;
  return pid;
}

}  // namespace bridge
