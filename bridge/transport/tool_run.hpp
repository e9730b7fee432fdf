#pragma once
// One run of a program from an argument vector, with its output captured, driven by the
// bridge's loop: starting it and stepping it never block.
#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "platform/fd/unique_fd.hpp"

namespace bridge {

struct ProcessResult {
  enum class End { exited, signalled };
  End end = End::exited;
  int code = 0;        // exit status, or the signal number
  std::string output;  // standard output, at most the output limit
  std::string errors;  // standard error, at most the output limit
  bool truncated = false;
};

// Why the program never ran: the errno of the failing step.
struct SpawnFailure {
  int error;
};

class ToolRun {
 public:
  // Starts argv[0] (looked up on PATH when it has no slash), no shell in between, with stdin on
  // /dev/null, default signal dispositions, an empty signal mask and no descriptor beyond 0-2,
  // in a process group of its own, and killed when the bridge dies. `output_limit` bytes are
  // kept per stream; the rest is read and dropped so that the program never stalls. BLOCKS until
  // the program has started or failed to (a fork and an exec).
  static std::expected<ToolRun, SpawnFailure> start(const std::vector<std::string>& argv, std::size_t output_limit);

  ToolRun(ToolRun&& other) noexcept;
  ToolRun& operator=(ToolRun&& other) noexcept;
  ToolRun(const ToolRun&) = delete;
  ToolRun& operator=(const ToolRun&) = delete;
  // A run still going is killed and reaped.
  ~ToolRun();

  pid_t pid() const noexcept { return pid_; }
  // Readable when there is output or the program has ended.
  std::vector<int> fds() const;
  // Without a process descriptor (old kernels) the end is only seen by asking: then true, and
  // the loop should step the run every few milliseconds.
  bool needs_polling() const noexcept { return !pidfd_; }

  // Reads what is there and, once the program has ended, reaps it, ends its process group (so
  // that nothing it started lives on or writes on) and gives what it printed. Never blocks.
  std::optional<ProcessResult> step();
  // Kills the program and its process group, and reaps it if it has ended already. Never blocks:
  // a program stuck in the kernel ends only when it leaves it. The pid still to reap, if any.
  std::optional<pid_t> kill();

 private:
  struct Capture {
    platform::UniqueFd fd;
    std::string text;
    bool truncated = false;
  };
  ToolRun(pid_t pid, platform::UniqueFd pidfd, platform::UniqueFd output, platform::UniqueFd errors,
          std::size_t limit) noexcept;
  // Reads what the pipe holds now, at most `budget` bytes; false at its end.
  bool read_available(Capture& capture, std::size_t budget) const;

  pid_t pid_ = -1;
  platform::UniqueFd pidfd_;
  Capture output_, errors_;
  std::size_t limit_ = 0;
};

}  // namespace bridge
