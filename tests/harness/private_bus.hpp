#pragma once
// A dbus-daemon of the system type for one test process, its configuration in a scratch
// directory. The children it starts get its address in DBUS_SYSTEM_BUS_ADDRESS; connections of
// the test process itself name the address, unless the bus is this process's system bus too.
//
// libdbus reads DBUS_SYSTEM_BUS_ADDRESS once per process, so every bus of a process listens on
// the same socket path (named by the process id) and the address carries no server GUID. One
// bus at a time per process, then.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "tests/harness/process.hpp"

namespace harness {

struct PrivateBusOptions {
  // Also the system bus of this process while the bus lives: code under test that opens the
  // system bus by itself (dbus::BusConnection::open_system_bus, libdbus's DBUS_BUS_SYSTEM)
  // finds it only through DBUS_SYSTEM_BUS_ADDRESS, which is set, and restored when the bus goes.
  bool this_process_too = false;
  // Allow everyone everything, as a bus without the shipped policy files would not.
  bool permissive_policy = true;
  // Inserted into <busconfig> after the policy: more <policy> blocks, <include>, <includedir>.
  // The stand-in for the device's bus with the shipped policy files is one <include> with
  // permissive_policy false.
  std::string extra_config{};
};

class PrivateBus {
 public:
  // Starts the daemon and waits (bounded) until it listens; throws when it cannot.
  explicit PrivateBus(PrivateBusOptions options = {});
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  // Kills and reaps the daemon, restores what it set and removes the directory.
  ~PrivateBus();

  const std::string& address() const noexcept { return address_; }

  // A program with this bus as its system bus: started, or run to its end.
  std::unique_ptr<Process> start(const std::string& program, ProcessOptions options = {}) const;
  Finished run(const std::string& program, ProcessOptions options = {}, std::chrono::milliseconds limit = 10s) const;

  // Asks the daemon every 20 ms whether `name` has an owner, until it has (true) or the limit
  // passes; false at once when `owner`, the process that should take it, has ended.
  bool wait_for_name(std::string_view name, Process* owner = nullptr, std::chrono::milliseconds limit = 10s) const;

  // Ends the daemon at once, as a crash would, and reaps it; every connection to it is lost.
  void kill();

 private:
  class ScopedVariable;

  std::filesystem::path directory_;
  std::filesystem::path socket_;
  std::string address_;
  std::unique_ptr<Process> daemon_;
  std::unique_ptr<ScopedVariable> this_process_;
};

}  // namespace harness
