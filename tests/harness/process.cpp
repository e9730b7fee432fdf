#include "tests/harness/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "tests/harness/sandbox.hpp"

extern char** environ;

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

std::array<int, 2> make_pipe() {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) fail("pipe2");
  return ends;
}

void close_if_open(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void set_non_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// "NAME=value" strings: ours, with the additions replacing same-named entries.
std::vector<std::string> child_environment(const std::vector<std::pair<std::string, std::string>>& additions) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool replaced =
        std::any_of(additions.begin(), additions.end(), [&](const auto& addition) { return addition.first == name; });
    if (!replaced) entries.emplace_back(entry);
  }
  for (const auto& [name, value] : additions) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

constexpr auto readable_by_all = static_cast<std::filesystem::perms>(0755);

const std::filesystem::path& readable_copies() {
  static const std::filesystem::path& directory = [] -> const std::filesystem::path& {
    static const ScratchDirectory scratch;
    std::filesystem::permissions(scratch.path(), readable_by_all);
    return scratch.path();
  }();
  return directory;
}

bool of_this_build(std::string_view program) {
  return program.starts_with(BLE_BUILD_DIR "/") || program.starts_with(readable_copies().string() + "/");
}

// setpriv first when the child runs as another account. In a cross build the programs of this
// build are for another machine: they run under the emulator, which keeps the pid and passes
// signals on.
std::vector<std::string> command_line(const std::string& program, const ProcessOptions& options) {
  std::vector<std::string> texts;
  if (!options.account.empty()) {
    texts.emplace_back("/usr/bin/setpriv");
    texts.insert(texts.end(), options.account.begin(), options.account.end());
    texts.emplace_back("--");
  }
  const std::string_view emulator = BLE_EMULATOR;
  if (!emulator.empty() && of_this_build(program)) texts.emplace_back(emulator);
  texts.push_back(program);
  texts.insert(texts.end(), options.arguments.begin(), options.arguments.end());
  return texts;
}

bool listed(const std::vector<int>& descriptors, int fd) {
  return std::find(descriptors.begin(), descriptors.end(), fd) != descriptors.end();
}

ExitStatus decode(int wait_status) {
  if (WIFEXITED(wait_status)) return ExitStatus::exited(WEXITSTATUS(wait_status));
  return ExitStatus::killed(WTERMSIG(wait_status));
}

std::chrono::milliseconds remaining_until(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return std::max(left, std::chrono::milliseconds(0));
}

}  // namespace

void PrintTo(const ExitStatus& status, std::ostream* out) {
  if (status.code) *out << "exit code " << *status.code;
  if (status.signal) *out << "killed by signal " << *status.signal;
}

Process::Process(std::string program, ProcessOptions options) {
  std::vector<std::string> argv_texts = command_line(program, options);
  std::vector<std::string> env_texts = child_environment(options.environment);
  std::vector<char*> argv = pointers_to(argv_texts);
  std::vector<char*> envp = pointers_to(env_texts);

  auto input = make_pipe();
  auto output = make_pipe();
  auto error = make_pipe();
  // Carries the child's errno when exec fails; closes unread when exec succeeds.
  auto exec_report = make_pipe();
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd < 0) fail("open /dev/null");
  const bool feeds_input = options.standard_input.has_value();
  const std::vector<int>& closed = options.closed_descriptors;

  pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ < 0) fail("fork");
  if (pid_ == 0) {
    // Only async-signal-safe calls from here on.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(feeds_input ? input[0] : null_fd, STDIN_FILENO);
    ::dup2(output[1], STDOUT_FILENO);
    ::dup2(error[1], STDERR_FILENO);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      if (listed(closed, fd)) ::close(fd);
    }
    ::execve(argv[0], argv.data(), envp.data());
    int e = errno;
    [[maybe_unused]] auto ignored = ::write(exec_report[1], &e, sizeof e);
    ::_exit(127);
  }

  ::close(null_fd);
  ::close(input[0]);
  ::close(output[1]);
  ::close(error[1]);
  ::close(exec_report[1]);
  int exec_errno = 0;
  ssize_t got;
  do {
    got = ::read(exec_report[0], &exec_errno, sizeof exec_errno);
  } while (got < 0 && errno == EINTR);
  ::close(exec_report[0]);
  if (got == static_cast<ssize_t>(sizeof exec_errno)) {
    ::close(input[1]);
    ::close(output[0]);
    ::close(error[0]);
    ::waitpid(pid_, nullptr, 0);
    errno = exec_errno;
    fail("exec " + program);
  }

  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd_ < 0) fail("pidfd_open");
  output_.fd = output[0];
  error_.fd = error[0];
  set_non_blocking(output_.fd);
  set_non_blocking(error_.fd);
  if (feeds_input) {
    input_fd_ = input[1];
    pending_input_ = std::move(*options.standard_input);
    set_non_blocking(input_fd_);
    feed_input();
  } else {
    ::close(input[1]);
  }
}

Process::~Process() {
  if (!status_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  close_if_open(input_fd_);
  close_if_open(output_.fd);
  close_if_open(error_.fd);
  close_if_open(pidfd_);
}

void Process::drain(Capture& capture) {
  std::array<char, 4096> chunk;
  while (capture.fd >= 0) {
    ssize_t got = ::read(capture.fd, chunk.data(), chunk.size());
    if (got > 0) {
      capture.text.append(chunk.data(), static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && errno == EAGAIN) {
      return;
    } else {
      close_if_open(capture.fd);
    }
  }
}

void Process::feed_input() {
  while (input_fd_ >= 0 && !pending_input_.empty()) {
    ssize_t put = ::write(input_fd_, pending_input_.data(), pending_input_.size());
    if (put > 0) {
      pending_input_.erase(0, static_cast<std::size_t>(put));
    } else if (put < 0 && errno == EINTR) {
      continue;
    } else if (put < 0 && errno == EAGAIN) {
      return;
    } else {
      break;  // the child closed its end; the rest cannot be delivered
    }
  }
  close_if_open(input_fd_);
}

void Process::reap_if_exited() {
  if (status_) return;
  int wait_status = 0;
  if (::waitpid(pid_, &wait_status, WNOHANG) == pid_) status_ = decode(wait_status);
}

void Process::pump(std::chrono::milliseconds limit) {
  std::array<pollfd, 4> fds{};
  std::size_t count = 0;
  for (int fd : {output_.fd, error_.fd}) {
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  }
  if (input_fd_ >= 0) fds[count++] = {input_fd_, POLLOUT, 0};
  if (!status_) fds[count++] = {pidfd_, POLLIN, 0};
  if (count == 0) return;
  if (::poll(fds.data(), count, static_cast<int>(limit.count())) < 0 && errno != EINTR) fail("poll");
  drain(output_);
  drain(error_);
  feed_input();
  reap_if_exited();
}

std::optional<ExitStatus> Process::wait_for_exit(std::chrono::milliseconds limit) {
  // Whatever the child wrote before it ended is in the pipes by now; descendants that keep the
  // pipes open must not hold us up.
  if (wait_until([this] { return status_.has_value(); }, limit)) {
    drain(output_);
    drain(error_);
  }
  return status_;
}

bool Process::wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (true) {
    if (condition()) return true;
    auto left = remaining_until(deadline);
    if (left.count() == 0) return false;
    pump(std::min(left, std::chrono::milliseconds(10)));
  }
}

bool Process::wait_for_output(Stream stream, std::string_view text, std::chrono::milliseconds limit) {
  const std::string& collected = stream == Stream::output ? output_.text : error_.text;
  return wait_until([&] { return collected.find(text) != std::string::npos; }, limit);
}

void Process::send_signal(int signal) const {
  if (!status_ && ::kill(pid_, signal) != 0) fail("kill");
}

ExitStatus Process::stop(std::chrono::milliseconds grace) {
  send_signal(SIGTERM);
  if (!wait_until([this] { return status_.has_value(); }, grace)) {
    send_signal(SIGKILL);
    wait_until([this] { return status_.has_value(); }, 10s);
  }
  drain(output_);
  drain(error_);
  if (!status_) throw std::runtime_error("child " + std::to_string(pid_) + " survived SIGKILL");
  return *status_;
}

Finished run_to_end(const std::string& program, ProcessOptions options, std::chrono::milliseconds limit) {
  Process process(program, std::move(options));
  auto status = process.wait_for_exit(limit);
  return {status, process.standard_output(), process.standard_error()};
}

std::string service_program() { return BLE_SERVICE_PROGRAM; }
std::string bridge_program() { return BLE_BRIDGE_PROGRAM; }

std::string readable_copy(const std::string& file) {
  const std::filesystem::path copy = readable_copies() / std::filesystem::path(file).filename();
  if (!std::filesystem::exists(copy)) {
    std::filesystem::copy_file(file, copy);
    std::filesystem::permissions(copy, readable_by_all);
  }
  return copy.string();
}

}  // namespace harness
