#include "tests/integration/service_rig.hpp"

#include <stdexcept>

namespace integration {

using namespace std::chrono_literals;

ServiceRig::ServiceRig(RigOptions options) : options_(std::move(options)), bus_(options_.bus) {
  sandbox_.write_config(options_.config);
  if (options_.read_only_config) sandbox_.make_read_only();
  if (options_.with_bridge) bridge_.emplace();
}

harness::Process& ServiceRig::start() {
  std::string program = BLE_RANGED_PATH;
  harness::ProcessOptions process;
  process.closed_descriptors = options_.closed_descriptors;
  if (!options_.wrapper.empty()) {
    program = options_.wrapper.front();
    process.arguments.assign(options_.wrapper.begin() + 1, options_.wrapper.end());
    process.arguments.push_back(BLE_RANGED_PATH);
  }
  service_ = std::make_unique<harness::Process>(program, std::move(process));
  return *service_;
}

harness::Process& ServiceRig::start_serving() {
  start();
  if (!harness::wait_for_bus_name("com.orbo.RIDEviva", 30s)) {
    service_->stop();
    throw std::runtime_error("ble-ranged did not take its name: " + service_->standard_error());
  }
  return *service_;
}

harness::Finished client(const std::string& program, std::vector<std::string> arguments) {
  return harness::run_to_end(program, {.arguments = std::move(arguments)}, 15s);
}

}  // namespace integration
