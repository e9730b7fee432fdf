#include "tests/harness/bridge.hpp"

#include <sstream>
#include <stdexcept>

namespace harness {

SimulatedBridge::SimulatedBridge(const PrivateBus& bus, std::vector<std::string> extra_arguments)
    : control_(directory_.path() / "control"), log_(directory_.path() / "calls.log") {
  // Root plays every part on a test bus, the service's included: its levels are remembered.
  std::vector<std::string> arguments{"--simulate",   "--control", control_.string(), "--log", log_.string(),
                                     "--allow-user", "root"};
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  process_ = bus.start(bridge_program(), {.arguments = std::move(arguments)});
  if (!bus.wait_for_name(bridge_bus_name, process_.get())) {
    process_->stop();
    throw std::runtime_error("hcitool-bridge did not take its bus name: " + process_->standard_error());
  }
}

SimulatedBridge::~SimulatedBridge() {
  if (process_ && !process_->has_exited()) process_->stop();
}

void SimulatedBridge::set_control(std::string_view key_value_lines) const {
  const std::filesystem::path next = directory_.path() / "control.next";
  write_file(next, key_value_lines);
  std::filesystem::rename(next, control_);
}

std::vector<std::string> SimulatedBridge::calls() const {
  std::vector<std::string> lines;
  std::istringstream log(read_file(log_).value_or(""));
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

}  // namespace harness
