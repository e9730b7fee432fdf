// ble-bench-startup: the time from exec of a server to its owning com.orbo.RIDEviva, over several starts.
// Usage: ble-bench-startup --starts N -- COMMAND [ARGS...]
// Runs in the caller's mount namespace and bus (DBUS_SYSTEM_BUS_ADDRESS); the command's standard
// output is discarded, its standard error kept.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* service_name = "com.orbo.RIDEviva";
constexpr auto start_bound = std::chrono::seconds(10);
constexpr auto stop_bound = std::chrono::seconds(5);
constexpr auto daemon_bound = std::chrono::seconds(5);
constexpr std::chrono::milliseconds poll_interval{20};

class Child {
 public:
  // Starts the command with standard output on /dev/null.
  static std::expected<Child, std::string> spawn(const std::vector<char*>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return std::unexpected(std::string("cannot start ") + argv[0] + ": " + std::strerror(failed));
    return Child(pid);
  }
  Child(Child&& other) noexcept : pid_(std::exchange(other.pid_, 0)) {}
  Child& operator=(Child&&) = delete;
  ~Child() {
    if (pid_ == 0) return;
    kill(pid_, SIGKILL);  // only when a run was cut short; stop() reaps in the normal case
    waitpid(pid_, nullptr, 0);
  }

  // The exit text if the child has ended, without waiting.
  std::optional<std::string> ended() {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    pid_ = 0;
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "ended by signal " + std::to_string(WTERMSIG(status));
  }
  pid_t pid() const noexcept { return pid_; }

 private:
  explicit Child(pid_t pid) noexcept : pid_(pid) {}
  pid_t pid_;
};

// NameOwnerChanged for the service name, seen on a connection of our own.
class OwnerWatch {
 public:
  static std::expected<OwnerWatch, std::string> open() {
    auto connection = dbus::BusConnection::open_system_bus();
    if (!connection) return std::unexpected(connection.error().text());
    const std::string rule =
        std::string("type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") + service_name +
        "'";
    // Each BLOCKS for the daemon's reply, up to 5 s.
    auto added = connection->call_daemon(dbus::MemberName::from_constant("AddMatch"), {rule}, daemon_bound);
    if (!added) return std::unexpected(added.error().text());
    auto owner = connection->call_daemon(dbus::MemberName::from_constant("GetNameOwner"), {std::string(service_name)},
                                         daemon_bound);
    if (owner) return std::unexpected(std::string(service_name) + " is already owned; stop its owner first");
    if (owner.error().name() != dbus::standard_error::name_has_no_owner().view())
      return std::unexpected(owner.error().text());
    return OwnerWatch(std::move(*connection));
  }

  // BLOCKS until the name gets an owner (owned = true) or loses it, polling the child meanwhile.
  std::expected<Clock::time_point, std::string> wait(bool owned, Child& child, Clock::duration bound) {
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
      if (arrived_->empty()) {
        if (!connection_.process_one(poll_interval)) return std::unexpected(std::string("the bus connection was lost"));
        if (arrived_->empty() && owned && child.pid() != 0) {
          if (auto how = child.ended()) return std::unexpected("the server " + *how + " before owning the name");
        }
        continue;
      }
      const auto [message, seen] = std::move(arrived_->front());
      arrived_->pop_front();
      if (changed_to(message) == owned) return seen;
    }
    return std::unexpected(std::string("no ownership change of ") + service_name + " within the bound");
  }

 private:
  using Arrived = std::deque<std::pair<dbus::Message, Clock::time_point>>;  // with the time each was read

  explicit OwnerWatch(dbus::BusConnection connection)
      : connection_(std::move(connection)), arrived_(std::make_unique<Arrived>()) {
    connection_.add_receiver({}, [arrived = arrived_.get()](dbus::Message message, dbus::BusConnection&) {
      arrived->emplace_back(std::move(message), Clock::now());
      return true;
    });
  }

  // True for a new owner, false for a released name or any other message.
  static bool changed_to(const dbus::Message& message) {
    if (message.type() != dbus::MessageType::signal || message.interface() != "org.freedesktop.DBus" ||
        message.member() != "NameOwnerChanged")
      return false;
    dbus::MessageReader args(message);
    const auto name = args.read_string_view();
    const auto old_owner = args.read_string_view();
    const auto new_owner = args.read_string_view();
    return name && old_owner && new_owner && !new_owner->empty();
  }

  dbus::BusConnection connection_;
  std::unique_ptr<Arrived> arrived_;  // where the receiver puts messages, wherever the watch is moved
};

// Sends SIGTERM and reaps, escalating to SIGKILL after the bound.
void stop(Child& child) {
  kill(child.pid(), SIGTERM);
  const auto deadline = Clock::now() + stop_bound;
  while (!child.ended()) {
    if (Clock::now() > deadline) return;  // the destructor kills and reaps
    struct timespec pause {
      0, std::chrono::nanoseconds(poll_interval).count()
    };
    nanosleep(&pause, nullptr);
  }
}

std::expected<std::vector<double>, std::string> measure(std::vector<char*> argv, unsigned starts) {
  auto watch = OwnerWatch::open();
  if (!watch) return std::unexpected(watch.error());
  std::vector<double> millis;
  for (unsigned i = 0; i < starts; ++i) {
    const auto exec_at = Clock::now();
    auto child = Child::spawn(argv);
    if (!child) return std::unexpected(child.error());
    auto owned_at = watch->wait(true, *child, start_bound);
    if (!owned_at) return std::unexpected("start " + std::to_string(i + 1) + ": " + owned_at.error());
    millis.push_back(std::chrono::duration<double, std::milli>(*owned_at - exec_at).count());
    stop(*child);
    if (auto released = watch->wait(false, *child, stop_bound); !released)
      return std::unexpected("stop " + std::to_string(i + 1) + ": " + released.error());
  }
  return millis;
}

int usage() {
  std::fputs("usage: ble-bench-startup --starts N -- COMMAND [ARGS...]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || std::string_view(argv[1]) != "--starts" || std::string_view(argv[3]) != "--") return usage();
  unsigned starts = 0;
  const std::string_view count = argv[2];
  const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), starts);
  if (ec != std::errc{} || end != count.data() + count.size() || starts == 0) return usage();
  std::vector<char*> command(argv + 4, argv + argc);
  command.push_back(nullptr);

  auto millis = measure(command, starts);
  dbus::shutdown();
  if (!millis) {
    std::fprintf(stderr, "Error: %s\n", millis.error().c_str());
    return 1;
  }
  std::sort(millis->begin(), millis->end());
  std::printf("starts=%u median_ms=%.3f min_ms=%.3f max_ms=%.3f\n", starts, (*millis)[millis->size() / 2],
              millis->front(), millis->back());
  return 0;
}
