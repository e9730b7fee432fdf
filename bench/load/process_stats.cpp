#include "bench/load/process_stats.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace bench {

namespace {

std::expected<std::string, std::string> read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::unexpected("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string_view next_field(std::string_view& rest) {
  const auto start = rest.find_first_not_of(" \t");
  if (start == std::string_view::npos) return rest = {};
  rest.remove_prefix(start);
  const auto end = rest.find_first_of(" \t");
  const auto field = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  return field;
}

bool parse_u64(std::string_view text, std::uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

std::expected<std::uint64_t, std::string> kib_field(std::string_view status, std::string_view key) {
  auto at = status.find(key);
  while (at != std::string_view::npos && at != 0 && status[at - 1] != '\n') at = status.find(key, at + 1);
  if (at == std::string_view::npos) return std::unexpected("no " + std::string(key) + " in /proc status");
  std::string_view rest = status.substr(at + key.size());
  rest = rest.substr(0, rest.find('\n'));
  std::string_view number = next_field(rest);
  std::uint64_t kib = 0;
  if (!parse_u64(number, kib) || next_field(rest) != "kB")
    return std::unexpected("malformed " + std::string(key) + " line in /proc status");
  return kib;
}

}  // namespace

std::expected<std::uint64_t, std::string> cpu_ticks_from_stat(std::string_view stat) {
  // The command name may hold blanks and parentheses; the fields start after the last ')'.
  const auto close = stat.rfind(')');
  if (close == std::string_view::npos) return std::unexpected(std::string("malformed /proc stat: no command name"));
  std::string_view rest = stat.substr(close + 1);
  // Fields 3 (state) to 13 come before utime (14) and stime (15).
  for (int field = 3; field <= 13; ++field) next_field(rest);
  std::uint64_t user = 0;
  std::uint64_t system = 0;
  if (!parse_u64(next_field(rest), user) || !parse_u64(next_field(rest), system))
    return std::unexpected(std::string("malformed /proc stat: no utime and stime"));
  return user + system;
}

std::expected<MemoryUse, std::string> memory_from_status(std::string_view status) {
  auto rss = kib_field(status, "VmRSS:");
  if (!rss) return std::unexpected(rss.error());
  auto peak = kib_field(status, "VmHWM:");
  if (!peak) return std::unexpected(peak.error());
  auto anon = kib_field(status, "RssAnon:");
  if (!anon) return std::unexpected(anon.error());
  return MemoryUse{*rss, *peak, *anon};
}

std::expected<std::chrono::microseconds, std::string> process_cpu_time(pid_t pid) {
  auto stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return std::unexpected(stat.error());
  auto ticks = cpu_ticks_from_stat(*stat);
  if (!ticks) return std::unexpected(ticks.error());
  const auto per_second = static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK));
  return std::chrono::microseconds{*ticks * 1000000 / per_second};
}

std::expected<MemoryUse, std::string> process_memory(pid_t pid) {
  auto status = read_file("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::unexpected(status.error());
  return memory_from_status(*status);
}

std::chrono::microseconds own_cpu_time() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto micros = [](const timeval& t) { return std::chrono::seconds{t.tv_sec} + std::chrono::microseconds{t.tv_usec}; };
  return micros(usage.ru_utime) + micros(usage.ru_stime);
}

}  // namespace bench
