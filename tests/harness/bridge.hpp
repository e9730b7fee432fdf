#pragma once
// hcitool-bridge in simulation mode for integration tests: started on the bus that
// DBUS_SYSTEM_BUS_ADDRESS names (a PrivateBus), with its control file and call log in a
// scratch directory of its own.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace harness {

inline constexpr std::string_view bridge_bus_name = "com.orbo.ZozovoZorOrevov";

// The built hcitool-bridge.
std::string bridge_program();

// Polls NameHasOwner on the bus in DBUS_SYSTEM_BUS_ADDRESS until `name` has an owner or the
// limit passes.
bool wait_for_bus_name(std::string_view name, std::chrono::milliseconds limit = 10s);

class SimulatedBridge {
 public:
  // Starts the bridge with --simulate, --control and --log (plus `extra_arguments`) and waits
  // for its name; throws when the name does not appear in time.
  explicit SimulatedBridge(std::vector<std::string> extra_arguments = {});
  SimulatedBridge(const SimulatedBridge&) = delete;
  SimulatedBridge& operator=(const SimulatedBridge&) = delete;
  ~SimulatedBridge();

  // Replaces the control file in one rename, so the bridge never reads half of it.
  void set_control(std::string_view key_value_lines) const;
  // The lines of the call log so far, without their line feeds.
  std::vector<std::string> calls() const;

  const std::filesystem::path& control_file() const noexcept { return control_; }
  const std::filesystem::path& log_file() const noexcept { return log_; }
  Process& process() noexcept { return *process_; }

 private:
  ScratchDirectory directory_;
  std::filesystem::path control_;
  std::filesystem::path log_;
  std::unique_ptr<Process> process_;
};

}  // namespace harness
