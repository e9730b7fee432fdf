#include "tests/harness/bridge.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace harness {

std::string bridge_program() { return BLE_BUILD_DIR "/bridge/hcitool-bridge"; }

bool wait_for_bus_name(std::string_view name, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    const Finished answer = run_to_end("/usr/bin/dbus-send",
                                       {.arguments = {"--system", "--print-reply", "--dest=org.freedesktop.DBus",
                                                      "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                                      "string:" + std::string(name)}},
                                       2s);
    if (answer.standard_output.find("boolean true") != std::string::npos) return true;
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

SimulatedBridge::SimulatedBridge(std::vector<std::string> extra_arguments)
    : control_(directory_.path() / "control"), log_(directory_.path() / "calls.log") {
  std::vector<std::string> arguments{"--simulate", "--control", control_.string(), "--log", log_.string()};
  arguments.insert(arguments.end(), extra_arguments.begin(), extra_arguments.end());
  process_ = std::make_unique<Process>(bridge_program(), ProcessOptions{.arguments = std::move(arguments)});
  if (!wait_for_bus_name(bridge_bus_name)) {
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
