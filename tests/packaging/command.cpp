#include "tests/packaging/command.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace packaging_test {

harness::Finished run(const Command& command, std::chrono::milliseconds limit) {
  harness::ProcessOptions options;
  options.arguments = command.argv;
  options.environment = command.environment;
  return harness::run_to_end("/usr/bin/env", std::move(options), limit);
}

bool succeeded(const harness::Finished& finished) { return finished.status == harness::ExitStatus::exited(0); }

std::string describe(const Command& command, const harness::Finished& finished) {
  std::ostringstream text;
  text << "command:";
  for (const auto& word : command.argv) text << ' ' << word;
  text << "\nstatus: " << testing::PrintToString(finished.status) << "\nstdout:\n"
       << finished.standard_output << "\nstderr:\n"
       << finished.standard_error;
  return text.str();
}

std::string output_of(const Command& command, std::chrono::milliseconds limit) {
  auto finished = run(command, limit);
  if (!succeeded(finished)) ADD_FAILURE() << describe(command, finished);
  return finished.standard_output;
}

std::string unit_setting(const std::string& unit_text, const std::string& key) {
  std::istringstream lines(unit_text);
  const std::string prefix = key + "=";
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  }
  return {};
}

}  // namespace packaging_test
