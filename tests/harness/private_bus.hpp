#pragma once
// A dbus-daemon of the system type for one test process: its configuration in a scratch
// directory, its address exported as DBUS_SYSTEM_BUS_ADDRESS while it lives.
//
// libdbus reads that variable once per process, so every bus of a process listens on the same
// socket path (named by the process id) and the address carries no server GUID. One bus at a
// time per process, then.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace harness {

struct PrivateBusOptions {
  // Allow everyone everything, as a bus without the shipped policy files would not.
  bool permissive_policy = true;
  // Inserted into <busconfig> after the policy: more <policy> blocks, <include>, <includedir>.
  std::string extra_config;
};

class PrivateBus {
 public:
  // Starts the daemon and waits (bounded) until it accepts connections; throws when it cannot.
  explicit PrivateBus(PrivateBusOptions options = {});
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  // Kills and reaps the daemon, restores DBUS_SYSTEM_BUS_ADDRESS and removes the directory.
  ~PrivateBus();

  // What children need in DBUS_SYSTEM_BUS_ADDRESS.
  const std::string& address() const noexcept { return address_; }
  const std::filesystem::path& directory() const noexcept { return directory_; }
  const std::filesystem::path& socket() const noexcept { return socket_; }
  pid_t pid() const noexcept { return pid_; }
  bool running() const noexcept { return pid_ > 0; }

  // Ends the daemon at once, as a crash would, and reaps it; every connection to it is lost.
  void kill();

 private:
  void write_config(const PrivateBusOptions& options) const;
  void spawn();
  void wait_for_address(int fd);
  void wait_until_accepting() const;

  std::filesystem::path directory_;
  std::filesystem::path socket_;
  std::string address_;
  pid_t pid_ = -1;
  std::optional<std::string> previous_address_;
};

}  // namespace harness
