#pragma once
// Everything the real ble-ranged needs around it: a private bus, the simulated bridge and a
// sandboxed /etc/wireless holding the configuration file.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness/bridge.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/private_bus.hpp"
#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace integration {

struct RigOptions {
  std::string config = harness::stored_file(7);
  bool with_bridge = true;
  bool read_only_config = false;
  // Wraps the service, e.g. {"valgrind", "--leak-check=full"}.
  std::vector<std::string> wrapper = {};
  // Standard descriptors the service starts with closed.
  std::vector<int> closed_descriptors = {};
  harness::PrivateBusOptions bus = {};
};

class ServiceRig {
 public:
  explicit ServiceRig(RigOptions options = {});

  // Starts ble-ranged; call after steering the bridge.
  harness::Process& start();
  // Starts it and waits until it owns its name and has drained the start-up line.
  harness::Process& start_serving();

  // Stops the bridge, then starts another in its place (new call log, new unique name).
  harness::SimulatedBridge& restart_bridge();

  // Runs a client program on the rig's bus.
  harness::Finished client(const std::string& program, std::vector<std::string> arguments) const;

  harness::PrivateBus& bus() noexcept { return bus_; }
  harness::WirelessSandbox& sandbox() noexcept { return sandbox_; }
  harness::SimulatedBridge& bridge() { return *bridge_; }
  harness::Process& service() { return *service_; }
  std::optional<std::string> config() const { return sandbox_.read_config(); }

 private:
  RigOptions options_;
  harness::PrivateBus bus_;
  harness::WirelessSandbox sandbox_;
  std::optional<harness::SimulatedBridge> bridge_;
  std::unique_ptr<harness::Process> service_;
};

}  // namespace integration
