#pragma once
// The controller reached through a tool the integrator names: one tool run per attempt.
#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/hci_command.hpp"
#include "bridge/hci_event.hpp"
#include "bridge/hci_exchange.hpp"
#include "bridge/process_runner.hpp"

namespace bridge {

inline constexpr std::size_t hcitool_output_limit = 64 * 1024;
// Runs per call at most, all within the answer time limit.
inline constexpr int hcitool_runs = 3;

// tool -i <controller> cmd <group> <command> <parameter>
std::vector<std::string> hcitool_argv(const std::string& tool, const HciCommand& command);

// The event the tool printed: its "> HCI Event: 0xEE plen N" line and its byte lines, which
// must be the last lines of the output. Lines before it (the command's echo) are not read.
std::expected<HciEvent, std::string> read_printed_event(std::string_view printed);

// Runs the tool until it prints the command's answer, at most hcitool_runs times within the
// time limit. The reply is what the answering run printed, then the status line; an answer
// that never came is an error quoting what was printed. BLOCKS for up to the time limit.
std::expected<HciAnswer, std::string> run_hcitool(const std::string& tool, const HciCommand& command,
                                                  RunLimits limits = {answer_time_limit, hcitool_output_limit});

// The failure texts, one per way a run can go wrong.
std::string describe_spawn_failure(const std::string& tool, SpawnFailure failure);
std::string describe_failed_run(const std::string& tool, const ProcessResult& result, RunLimits limits);

}  // namespace bridge
