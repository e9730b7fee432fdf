#pragma once
// What one run of the load client does, from its command line.
#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

namespace bench {

enum class CallKind { get, get_all, introspect, set, get_id };

struct LoadOptions {
  CallKind kind = CallKind::get;
  std::uint64_t calls = 10000;  // measured calls, all checked
  std::uint64_t warmup = 0;     // calls before the measurement, also checked
  unsigned connections = 1;
  unsigned depth = 1;                            // calls in flight on each connection
  std::int32_t range = 20;                       // what Get and GetAll must answer
  std::vector<std::int32_t> set_levels{20, 21};  // Set cycles through these
  int timeout_ms = 10000;                        // no reply for this long ends the run
  std::optional<pid_t> server_pid;               // its CPU time and memory are reported
};

// Parses argv[1..]; the error is one line for the user.
std::expected<LoadOptions, std::string> parse_load_options(const std::vector<std::string>& args);

extern const char* const load_usage;

}  // namespace bench
