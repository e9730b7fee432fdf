#include "tests/integration/service_rig.hpp"

#include <stdexcept>

namespace integration {

using namespace std::chrono_literals;

ServiceRig::ServiceRig(RigOptions options) : options_(std::move(options)), bus_(options_.bus) {
  sandbox_.write_config(options_.config);
  if (options_.read_only_config) sandbox_.make_read_only();
  if (options_.with_bridge) bridge_.emplace(bus_);
}

harness::Process& ServiceRig::start() {
  std::string program = harness::service_program();
  harness::ProcessOptions process;
  process.closed_descriptors = options_.closed_descriptors;
  if (!options_.wrapper.empty()) {
    program = options_.wrapper.front();
    process.arguments.assign(options_.wrapper.begin() + 1, options_.wrapper.end());
    process.arguments.push_back(harness::service_program());
  }
  service_ = bus_.start(program, std::move(process));
  return *service_;
}

harness::Process& ServiceRig::start_serving() {
  start();
  if (!bus_.wait_for_name("com.orbo.RIDEviva", service_.get(), 30s)) {
    service_->stop();
    throw std::runtime_error("ble-ranged did not take its name: " + service_->standard_error());
  }
  return *service_;
}

harness::SimulatedBridge& ServiceRig::restart_bridge() {
  bridge_.reset();
  return bridge_.emplace(bus_);
}

harness::Finished ServiceRig::client(const std::string& program, std::vector<std::string> arguments) const {
  return bus_.run(program, {.arguments = std::move(arguments)}, 15s);
}

}  // namespace integration
