#pragma once
// hcitool-bridge in simulation mode for integration tests: started on a PrivateBus, with its
// control file and call log in a scratch directory of its own.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/bridge_interface.hpp"
#include "tests/harness/private_bus.hpp"
#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace harness {

inline constexpr std::string_view bridge_bus_name = contract::bridge_bus_name;
// Why a test that calls the bridge as this process needs root: by default it serves root only.
inline constexpr std::string_view bridge_callers = "hcitool-bridge serves root only unless told otherwise";

class SimulatedBridge {
 public:
  // Starts the bridge with --simulate, --control, --log and --allow-user root (plus
  // `extra_arguments`) and waits for its name; throws when the name does not appear in time.
  explicit SimulatedBridge(const PrivateBus& bus, std::vector<std::string> extra_arguments = {});
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
