#pragma once
// Running one program from an argument vector, with its output captured and its run time bounded.
#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <vector>

namespace bridge {

struct RunLimits {
  std::chrono::milliseconds time_limit;
  std::size_t output_limit;  // per stream; the rest is read and dropped so the child never stalls
};

struct ProcessResult {
  enum class End { exited, signalled, timed_out };
  End end = End::exited;
  int code = 0;        // exit status, or the signal number
  std::string output;  // standard output, at most output_limit bytes
  std::string errors;  // standard error, at most output_limit bytes
  bool truncated = false;
};

// Why the program never ran: the errno of the failing step.
struct SpawnFailure {
  int error;
};

// Starts argv[0] (looked up on PATH when it has no slash) with posix_spawn, no shell in between,
// stdin on /dev/null, default signal dispositions, an empty signal mask and no descriptor beyond
// 0-2, in a process group of its own. The group is killed with SIGKILL when the time limit
// passes and when the tool ends, so nothing it started lives on. Always reaps the child before
// returning. BLOCKS for up to time_limit.
std::expected<ProcessResult, SpawnFailure> run_process(const std::vector<std::string>& argv, RunLimits limits);

}  // namespace bridge
