#include "bench/load/options.hpp"

#include <charconv>
#include <limits>
#include <string_view>

namespace bench {

const char* const load_usage =
    "usage: ble-bench-load --kind get|getall|introspect|set|getid --calls N\n"
    "                      [--warmup N] [--connections C] [--depth D] [--range L]\n"
    "                      [--levels A,B,...] [--timeout-ms T] [--server-pid PID]\n"
    "Sends N calls of one kind to com.orbo.RIDEviva (getid: to the bus daemon) over C private\n"
    "system-bus connections with D calls in flight on each, checks every reply and prints one\n"
    "line of key=value results.\n";

namespace {

template <class Int>
std::expected<Int, std::string> number(std::string_view option, std::string_view text, Int lowest, Int highest) {
  Int value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < lowest || value > highest)
    return std::unexpected(std::string(option) + " needs a whole number from " + std::to_string(lowest) + " to " +
                           std::to_string(highest) + ", not \"" + std::string(text) + "\"");
  return value;
}

std::expected<CallKind, std::string> kind_named(std::string_view text) {
  if (text == "get") return CallKind::get;
  if (text == "getall") return CallKind::get_all;
  if (text == "introspect") return CallKind::introspect;
  if (text == "set") return CallKind::set;
  if (text == "getid") return CallKind::get_id;
  return std::unexpected("unknown call kind \"" + std::string(text) + "\"");
}

std::expected<std::vector<std::int32_t>, std::string> levels_from(std::string_view text) {
  std::vector<std::int32_t> levels;
  while (true) {
    const auto comma = text.find(',');
    auto level = number<std::int32_t>("--levels", text.substr(0, comma), 0, 30);
    if (!level) return std::unexpected(level.error());
    levels.push_back(*level);
    if (comma == std::string_view::npos) return levels;
    text.remove_prefix(comma + 1);
  }
}

}  // namespace

std::expected<LoadOptions, std::string> parse_load_options(const std::vector<std::string>& args) {
  LoadOptions options;
  bool have_kind = false;
  bool have_calls = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view option = args[i];
    if (i + 1 == args.size()) return std::unexpected(std::string(option) + " needs a value");
    const std::string_view value = args[++i];
    std::expected<void, std::string> applied;
    auto take = [&applied](auto parsed, auto& field) {
      if (parsed) field = *parsed;
      else applied = std::unexpected(parsed.error());
    };
    constexpr auto max64 = std::numeric_limits<std::uint64_t>::max();
    if (option == "--kind") {
      take(kind_named(value), options.kind);
      have_kind = true;
    } else if (option == "--calls") {
      take(number<std::uint64_t>(option, value, 1, max64), options.calls);
      have_calls = true;
    } else if (option == "--warmup") {
      take(number<std::uint64_t>(option, value, 0, max64), options.warmup);
    } else if (option == "--connections") {
      take(number<unsigned>(option, value, 1, 256), options.connections);
    } else if (option == "--depth") {
      take(number<unsigned>(option, value, 1, 4096), options.depth);
    } else if (option == "--range") {
      take(number<std::int32_t>(option, value, 0, 30), options.range);
    } else if (option == "--levels") {
      take(levels_from(value), options.set_levels);
    } else if (option == "--timeout-ms") {
      take(number<int>(option, value, 1, 600000), options.timeout_ms);
    } else if (option == "--server-pid") {
      std::optional<pid_t> pid;
      take(number<pid_t>(option, value, 1, std::numeric_limits<pid_t>::max()), pid);
      options.server_pid = pid;
    } else {
      return std::unexpected("unknown option \"" + std::string(option) + "\"");
    }
    if (!applied) return std::unexpected(applied.error());
  }
  if (!have_kind) return std::unexpected(std::string("--kind is required"));
  if (!have_calls) return std::unexpected(std::string("--calls is required"));
  return options;
}

}  // namespace bench
