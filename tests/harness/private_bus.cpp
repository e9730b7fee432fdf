#include "tests/harness/private_bus.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <thread>

namespace harness {
namespace {

constexpr const char* address_variable = "DBUS_SYSTEM_BUS_ADDRESS";

constexpr std::string_view permissive_policy = R"(  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow send_requested_reply="false"/>
    <allow receive_sender="*"/>
  </policy>
)";

std::filesystem::path make_scratch_directory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ble-bus-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("private bus: cannot create a scratch directory");
  return pattern;
}

}  // namespace

class PrivateBus::ScopedVariable {
 public:
  explicit ScopedVariable(const std::string& value) {
    if (const char* old = std::getenv(address_variable)) previous_ = old;
    ::setenv(address_variable, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (previous_) {
      ::setenv(address_variable, previous_->c_str(), 1);
    } else {
      ::unsetenv(address_variable);
    }
  }

 private:
  std::optional<std::string> previous_;
};

PrivateBus::PrivateBus(PrivateBusOptions options)
    : directory_(make_scratch_directory()),
      socket_(std::filesystem::temp_directory_path() / ("ble-bus-" + std::to_string(::getpid()) + ".socket")),
      address_("unix:path=" + socket_.string()) {
  try {
    std::filesystem::remove(socket_);  // left behind by an earlier process with this id
    const std::filesystem::path config = directory_ / "bus.conf";
    std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>)" << address_ << R"(</listen>
  <auth>EXTERNAL</auth>
)" << (options.permissive_policy ? permissive_policy : "")
                          << options.extra_config << "\n</busconfig>\n";
    // The command line's address overrides the <listen> of an included file. Complaints at run
    // time go to the system log, so that no pipe the tests leave unread can fill and stop the
    // daemon; start-up failures still reach standard error.
    daemon_ = std::make_unique<Process>(
        "/usr/bin/dbus-daemon",
        ProcessOptions{.arguments = {"--config-file=" + config.string(), "--address=" + address_, "--nofork",
                                     "--nopidfile", "--print-address=1", "--syslog-only"}});
    // It prints its address once it listens; the printed one names its GUID, which a later
    // daemon on the same path would not match, so only the line itself is awaited.
    if (!daemon_->wait_until([this] { return daemon_->has_exited() || daemon_->standard_output().ends_with('\n'); }) ||
        daemon_->has_exited()) {
      throw std::runtime_error("private bus: dbus-daemon did not start: " + daemon_->standard_error());
    }
  } catch (...) {
    daemon_.reset();
    std::filesystem::remove_all(directory_);
    std::filesystem::remove(socket_);
    throw;
  }
  if (options.this_process_too) this_process_ = std::make_unique<ScopedVariable>(address_);
}

PrivateBus::~PrivateBus() {
  kill();
  this_process_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
  std::filesystem::remove(socket_, ignored);
}

std::unique_ptr<Process> PrivateBus::start(const std::string& program, ProcessOptions options) const {
  options.environment.emplace_back(address_variable, address_);
  return std::make_unique<Process>(program, std::move(options));
}

Finished PrivateBus::run(const std::string& program, ProcessOptions options, std::chrono::milliseconds limit) const {
  options.environment.emplace_back(address_variable, address_);
  return run_to_end(program, std::move(options), limit);
}

bool PrivateBus::wait_for_name(std::string_view name, Process* owner, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const Finished answer =
        run("/usr/bin/dbus-send",
            {.arguments = {"--system", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus.NameHasOwner", "string:" + std::string(name)}},
            2s);
    if (answer.standard_output.find("boolean true") != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (owner == nullptr) {
      std::this_thread::sleep_for(20ms);
    } else if (owner->wait_until([owner] { return owner->has_exited(); }, 20ms)) {
      return false;
    }
  }
}

void PrivateBus::kill() {
  if (!daemon_ || daemon_->has_exited()) return;
  daemon_->send_signal(SIGKILL);
  daemon_->wait_for_exit();
}

}  // namespace harness
