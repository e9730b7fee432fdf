#pragma once
// What /proc tells about another process: CPU time used and memory held.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace bench {

// utime + stime, in clock ticks, from the text of /proc/PID/stat.
std::expected<std::uint64_t, std::string> cpu_ticks_from_stat(std::string_view stat);

struct MemoryUse {
  std::uint64_t rss_kib = 0;   // VmRSS
  std::uint64_t peak_kib = 0;  // VmHWM
  std::uint64_t anon_kib = 0;  // RssAnon: the part that is the process's own, not mapped files
};
// VmRSS, VmHWM and RssAnon from the text of /proc/PID/status.
std::expected<MemoryUse, std::string> memory_from_status(std::string_view status);

std::expected<std::chrono::microseconds, std::string> process_cpu_time(pid_t pid);
std::expected<MemoryUse, std::string> process_memory(pid_t pid);

// This process's own user + system time.
std::chrono::microseconds own_cpu_time();

}  // namespace bench
