#pragma once
// What ble-rangectl's command line asks for. The verbs and the options are declared tables
// (command_line.cpp); options may stand anywhere on the line, before or after the verb, as
// systemctl's do. An argument that reads as a negative number is a value, never an option, so
// that `set -1` needs no `--` and reaches the service, which alone decides which levels it takes.
#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ctl {

enum class Command { status, get, show, set, watch, help, version };
enum class JsonMode { off, short_form, pretty };

// Long enough for a Set queued behind another, each waiting up to 5 s for the radio; short enough
// that a service that hangs is told soon.
inline constexpr std::chrono::milliseconds default_timeout{10'000};

// A whole number as set was given it: in the form the service writes levels ("7", "-1"), and
// its value if the bus's INT32 holds it.
struct Level {
  std::string decimal;
  std::optional<std::int32_t> value;
};

struct Request {
  Command command = Command::status;
  Level level = {};                                     // set only
  JsonMode json = JsonMode::off;                        // status, get, show, watch
  std::chrono::milliseconds timeout = default_timeout;  // for the whole command; no_time_limit for none
  std::vector<std::string> properties = {};             // show: the names asked for; empty for all
  bool values_only = false;                             // show --value
  bool timestamps = true;                               // watch
  bool quiet = false;                                   // no warnings
};

// The request, or why the command line makes none (a usage error, without "Error: ").
// --help and --version win over everything else on the line.
std::expected<Request, std::string> read_command_line(std::span<const std::string_view> arguments);

}  // namespace ctl
