#pragma once
// Running the system's own tools (cmake, dpkg-deb, systemd-analyze, ...) from packaging tests.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "tests/harness/process.hpp"

namespace packaging_test {

using namespace std::chrono_literals;

struct Command {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH
  std::vector<std::pair<std::string, std::string>> environment = {};
};

// Runs it to its end (bounded); an exit status other than 0 is reported in the result.
harness::Finished run(const Command& command, std::chrono::milliseconds limit = 120s);
bool succeeded(const harness::Finished& finished);
// For failure messages: the command line, its status and both streams.
std::string describe(const Command& command, const harness::Finished& finished);

// Standard output of a command that must succeed; the test fails otherwise.
std::string output_of(const Command& command, std::chrono::milliseconds limit = 120s);

// One "Key=value" setting of a unit file (the first, when the key repeats); empty when absent.
std::string unit_setting(const std::string& unit_text, const std::string& key);

}  // namespace packaging_test
