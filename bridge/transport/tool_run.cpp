#include "bridge/transport/tool_run.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
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

  SpawnSetup setup;
  if (int e = setup.prepare(out->write_end.get(), err->write_end.get())) return std::unexpected(SpawnFailure{e});

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  if (int e = ::posix_spawn(&pid, program->c_str(), setup.actions(), setup.attributes(), args.data(), environ))
    return std::unexpected(SpawnFailure{e});
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
    kill();
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::move(other.pidfd_);
    output_ = std::move(other.output_);
    errors_ = std::move(other.errors_);
    limit_ = other.limit_;
  }
  return *this;
}

ToolRun::~ToolRun() { kill(); }

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

void ToolRun::kill() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGKILL);
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  pidfd_.reset();
  output_.fd.reset();
  errors_.fd.reset();
}

}  // namespace bridge
