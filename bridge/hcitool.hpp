#pragma once
// The real controller path: one hcitool run per call.
#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "bridge/hci_command.hpp"
#include "bridge/process_runner.hpp"

namespace bridge {

// Shorter than the caller's 5 s reply timeout, so a hung tool becomes our own error reply.
inline constexpr std::chrono::milliseconds hcitool_time_limit{4000};
inline constexpr std::size_t hcitool_output_limit = 64 * 1024;

// tool -i <controller> cmd <group> <command> <parameter>
std::vector<std::string> hcitool_argv(const std::string& tool, const HciCommand& command);

// What the tool printed on standard output, as valid UTF-8, when it exits 0. Its standard
// error is left out then, because callers read the status from the last line of the output;
// on any failure both streams are quoted in the message.
std::expected<std::string, std::string> run_hcitool(const std::string& tool, const HciCommand& command,
                                                    RunLimits limits = {hcitool_time_limit, hcitool_output_limit});

// The failure texts, one per way a run can go wrong.
std::string describe_spawn_failure(const std::string& tool, SpawnFailure failure);
std::string describe_failed_run(const std::string& tool, const ProcessResult& result, RunLimits limits);

}  // namespace bridge
