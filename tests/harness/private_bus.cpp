#include "tests/harness/private_bus.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/fd/unique_fd.hpp"

extern char** environ;

namespace harness {
namespace {

constexpr const char* kAddressVariable = "DBUS_SYSTEM_BUS_ADDRESS";
constexpr auto kStartLimit = std::chrono::seconds(10);

constexpr std::string_view kPermissivePolicy = R"(  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow send_requested_reply="false"/>
    <allow receive_sender="*"/>
  </policy>
)";

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("private bus: " + what + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
}

std::filesystem::path make_scratch_directory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ble-bus-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot create a scratch directory");
  return pattern;
}

using Fd = platform::UniqueFd;

std::filesystem::path socket_path_of_this_process() {
  return std::filesystem::temp_directory_path() / ("ble-bus-" + std::to_string(::getpid()) + ".socket");
}

}  // namespace

PrivateBus::PrivateBus(PrivateBusOptions options)
    : directory_(make_scratch_directory()),
      socket_(socket_path_of_this_process()),
      address_("unix:path=" + socket_.string()) {
  if (const char* previous = std::getenv(kAddressVariable)) previous_address_ = previous;
  try {
    std::filesystem::remove(socket_);  // left behind by an earlier process with this id
    write_config(options);
    spawn();
    wait_until_accepting();
  } catch (...) {
    kill();
    std::filesystem::remove_all(directory_);
    std::filesystem::remove(socket_);
    throw;
  }
  ::setenv(kAddressVariable, address_.c_str(), 1);
}

PrivateBus::~PrivateBus() {
  kill();
  if (previous_address_) {
    ::setenv(kAddressVariable, previous_address_->c_str(), 1);
  } else {
    ::unsetenv(kAddressVariable);
  }
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
  std::filesystem::remove(socket_, ignored);
}

void PrivateBus::write_config(const PrivateBusOptions& options) const {
  std::ofstream config(directory_ / "bus.conf");
  config << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)"
         << socket_.string() << R"(</listen>
  <auth>EXTERNAL</auth>
)";
  if (options.permissive_policy) config << kPermissivePolicy;
  config << options.extra_config << "\n</busconfig>\n";
  if (!config.flush()) fail("cannot write the configuration");
}

void PrivateBus::spawn() {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) fail("pipe");
  Fd read_end(pipe_fds[0]);
  Fd write_end(pipe_fds[1]);

  const std::string config_arg = "--config-file=" + (directory_ / "bus.conf").string();
  const std::string log = (directory_ / "daemon.log").string();
  std::vector<std::string> arguments = {"dbus-daemon", config_arg, "--nofork", "--nopidfile", "--print-address=1"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // Complaints such as "Failed to set fd limit" go to a file, kept for a failing test's reader.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int spawned = ::posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    errno = spawned;
    fail("cannot start dbus-daemon");
  }
  write_end.reset();
  wait_for_address(read_end.get());
}

// The daemon prints its address once it listens; the printed one names its GUID, which a later
// daemon on the same path would not match, so only the line itself is awaited.
void PrivateBus::wait_for_address(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  std::string text;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      errno = 0;
      fail("no address within the start limit");
    }
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) fail("poll");
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) {
      errno = 0;
      fail("dbus-daemon ended before printing its address; see " + (directory_ / "daemon.log").string());
    }
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
  }
}

void PrivateBus::wait_until_accepting() const {
  sockaddr_un socket_address{};
  socket_address.sun_family = AF_UNIX;
  const std::string path = socket_.string();
  if (path.size() >= sizeof socket_address.sun_path) fail("socket path too long");
  std::memcpy(socket_address.sun_path, path.c_str(), path.size() + 1);

  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  for (;;) {
    Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe.get() < 0) fail("socket");
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&socket_address), sizeof socket_address) == 0) return;
    if (std::chrono::steady_clock::now() > deadline) fail("dbus-daemon does not accept connections");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // poll interval, bounded by the deadline
  }
}

void PrivateBus::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace harness
