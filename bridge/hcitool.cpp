#include "bridge/hcitool.hpp"

#include <cstring>

#include "bridge/utf8.hpp"

#include "bridge/concat.hpp"

namespace bridge {
namespace {

std::string printed(const ProcessResult& result) { return to_bus_text(result.output + result.errors); }

}  // namespace

std::vector<std::string> hcitool_argv(const std::string& tool, const HciCommand& command) {
  return {tool, "-i", command.controller, "cmd", command.group, command.command, command.parameter};
}

std::string describe_spawn_failure(const std::string& tool, SpawnFailure failure) {
  return to_bus_text(concat("Cannot start ", tool, ": ", std::strerror(failure.error)));
}

std::string describe_failed_run(const std::string& tool, const ProcessResult& result, RunLimits limits) {
  std::string text;
  switch (result.end) {
    case ProcessResult::End::timed_out:
      text = concat(tool, " did not finish within ", limits.time_limit.count(), " ms and was killed");
      break;
    case ProcessResult::End::signalled:
      text = concat(tool, " was killed by signal ", result.code, " (", ::strsignal(result.code), "): ", printed(result));
      break;
    case ProcessResult::End::exited:
      if (result.code == 0 && result.truncated)
        text = concat(tool, " printed more than ", limits.output_limit, " bytes");
      else
        text = concat(tool, " exited with status ", result.code, ": ", printed(result));
      break;
  }
  return to_bus_text(text);
}

std::expected<std::string, std::string> run_hcitool(const std::string& tool, const HciCommand& command,
                                                    RunLimits limits) {
  auto result = run_process(hcitool_argv(tool, command), limits);
  if (!result) return std::unexpected(describe_spawn_failure(tool, result.error()));
  // Cut output cannot be trusted to end in the status line, so it is never passed on as success.
  const bool succeeded = result->end == ProcessResult::End::exited && result->code == 0 && !result->truncated;
  if (!succeeded) return std::unexpected(describe_failed_run(tool, *result, limits));
  return to_bus_text(result->output);
}

}  // namespace bridge
