// ble-bench-load: drives com.orbo.RIDEviva (or the bus daemon) with a fixed number of checked calls.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/load/call_plan.hpp"
#include "bench/load/load_driver.hpp"
#include "bench/load/options.hpp"
#include "bench/load/process_stats.hpp"
#include "dbus/bus_connection.hpp"

namespace {

using bench::LoadOptions;

const char* kind_word(bench::CallKind kind) {
  switch (kind) {
    case bench::CallKind::get: return "get";
    case bench::CallKind::get_all: return "getall";
    case bench::CallKind::introspect: return "introspect";
    case bench::CallKind::set: return "set";
    case bench::CallKind::get_id: return "getid";
  }
  return "?";
}

double seconds(std::chrono::nanoseconds d) { return std::chrono::duration<double>(d).count(); }
double micros(std::chrono::nanoseconds d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct ServerSnapshot {
  std::chrono::microseconds cpu{0};
};

std::expected<ServerSnapshot, std::string> snapshot(const LoadOptions& options) {
  if (!options.server_pid) return ServerSnapshot{};
  auto cpu = bench::process_cpu_time(*options.server_pid);
  if (!cpu) return std::unexpected(cpu.error());
  return ServerSnapshot{*cpu};
}

int fail(const std::string& message) {
  std::fprintf(stderr, "Error: %s\n", message.c_str());
  return 1;
}

int run(const LoadOptions& options) {
  auto driver = bench::LoadDriver::connect(options.connections);
  if (!driver) return fail(driver.error());
  bench::CallPlan plan(options);
  if (options.warmup > 0) {
    if (auto warm = driver->run(plan, options.warmup, options.depth, options.timeout_ms); !warm)
      return fail(warm.error());
  }
  auto server_before = snapshot(options);
  if (!server_before) return fail(server_before.error());
  const auto own_before = bench::own_cpu_time();
  auto measured = driver->run(plan, options.calls, options.depth, options.timeout_ms);
  if (!measured) return fail(measured.error());
  const auto own_used = bench::own_cpu_time() - own_before;
  auto server_after = snapshot(options);
  if (!server_after) return fail(server_after.error());

  const double wall = seconds(measured->wall);
  std::printf(
      "kind=%s calls=%llu connections=%u depth=%u seconds=%.6f calls_per_s=%.1f p50_us=%.1f p99_us=%.1f "
      "client_cpu_s=%.6f client_cpu_share=%.3f",
      kind_word(options.kind), static_cast<unsigned long long>(measured->calls), options.connections, options.depth,
      wall, static_cast<double>(measured->calls) / wall, micros(measured->latencies.percentile(50)),
      micros(measured->latencies.percentile(99)), seconds(own_used), seconds(own_used) / wall);
  if (options.server_pid) {
    auto memory = bench::process_memory(*options.server_pid);
    if (!memory) return fail(memory.error());
    std::printf(" server_cpu_s=%.6f server_rss_kib=%llu server_hwm_kib=%llu server_anon_kib=%llu",
                seconds(server_after->cpu - server_before->cpu), static_cast<unsigned long long>(memory->rss_kib),
                static_cast<unsigned long long>(memory->peak_kib), static_cast<unsigned long long>(memory->anon_kib));
  }
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  auto options = bench::parse_load_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!options) {
    std::fprintf(stderr, "Error: %s\n%s", options.error().c_str(), bench::load_usage);
    return 2;
  }
  const int status = run(*options);
  dbus::shutdown();
  return status;
}
