#pragma once
// What ble-rangectl's command line asks for. No general option parser: an argument that reads
// as a negative number is a value, never an option, so that `set -1` needs no `--` and reaches
// the service, which alone decides which levels it takes.
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace ctl {

enum class Command { status, set, watch, help, version };

struct Request {
  Command command = Command::status;
  std::int32_t level = 0;  // set only
};

// The request, or why the command line makes none (a usage error, without "Error: ").
// --help and --version win over everything else on the line.
std::expected<Request, std::string> read_command_line(std::span<const std::string_view> arguments);

}  // namespace ctl
