#pragma once
// A child process for integration tests: started with arguments and extra environment, as this
// process's account or another one, its standard output and error captured while it runs,
// waited for with bounded polls, stopped. The one way the tests start a program.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace harness {

using namespace std::chrono_literals;

// How a child ended: an exit code, or the signal that killed it.
struct ExitStatus {
  std::optional<int> code;
  std::optional<int> signal;

  static ExitStatus exited(int code) { return {code, std::nullopt}; }
  static ExitStatus killed(int signal) { return {std::nullopt, signal}; }
  bool operator==(const ExitStatus&) const = default;
};
void PrintTo(const ExitStatus& status, std::ostream* out);

struct ProcessOptions {
  std::vector<std::string> arguments{};
  // Added to (or replacing in) the test's own environment.
  std::vector<std::pair<std::string, std::string>> environment{};
  // Written to the child's standard input, which then reaches its end. Without it, the child
  // reads /dev/null.
  std::optional<std::string> standard_input{};
  // Any of 0, 1 and 2 listed here is closed when the child starts; its output is not captured.
  std::vector<int> closed_descriptors{};
  // Runs the child as another account: setpriv's options, such as
  // {"--reuid=nobody", "--regid=nogroup", "--clear-groups"}. Empty: as this process.
  std::vector<std::string> account{};
};

class Process {
 public:
  enum class Stream { output, error };

  // Throws when the program cannot be started.
  explicit Process(std::string program, ProcessOptions options = {});
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  // A child still running is killed and reaped.
  ~Process();

  pid_t pid() const noexcept { return pid_; }

  // Everything the child wrote so far (as far as collected by the waits below).
  const std::string& standard_output() const noexcept { return output_.text; }
  const std::string& standard_error() const noexcept { return error_.text; }

  // Collects output until the child has exited and its output is drained, or the limit passes.
  std::optional<ExitStatus> wait_for_exit(std::chrono::milliseconds limit = 10s);
  // Collects output until `condition` holds, checking after every output event and at least
  // every 10 ms; false when the limit passes first.
  bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);
  // Until the stream contains `text`.
  bool wait_for_output(Stream stream, std::string_view text, std::chrono::milliseconds limit = 10s);

  bool has_exited() const noexcept { return status_.has_value(); }
  void send_signal(int signal) const;
  // SIGTERM, then SIGKILL when it has not ended within `grace`.
  ExitStatus stop(std::chrono::milliseconds grace = 5s);

 private:
  struct Capture {
    int fd = -1;
    std::string text;
  };

  // One round of waiting for output, input space or the child's end, at most `limit`.
  void pump(std::chrono::milliseconds limit);
  void drain(Capture& capture);
  void feed_input();
  void reap_if_exited();

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int input_fd_ = -1;
  std::string pending_input_;
  Capture output_;
  Capture error_;
  std::optional<ExitStatus> status_;
};

// Starts a program, waits for it to end and gives everything it printed.
struct Finished {
  std::optional<ExitStatus> status;  // nothing when it did not end in time (it is then killed)
  std::string standard_output;
  std::string standard_error;
};
Finished run_to_end(const std::string& program, ProcessOptions options = {}, std::chrono::milliseconds limit = 10s);

// This build's programs. In a cross build they run under the emulator, which Process adds
// itself, for them and for their readable copies.
std::string service_program();
std::string bridge_program();
// A copy of one of this build's files that every account can read and run, made once per
// process: the build tree may lie below a directory that only root can enter.
std::string readable_copy(const std::string& file);

}  // namespace harness
