#include "bridge/simulation.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "bridge/concat.hpp"

namespace bridge {
namespace {

using Result = std::expected<void, std::string>;

template <class Int>
std::expected<Int, std::string> parse_decimal(std::string_view key, std::string_view value) {
  Int number{};
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size())
    return std::unexpected(concat(key, " must be a decimal integer"));
  return number;
}

std::expected<std::string, std::string> unescape(std::string_view value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      text += value[i];
      continue;
    }
    if (++i == value.size()) return std::unexpected(std::string("text ends in a lone backslash"));
    switch (value[i]) {
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case 't': text += '\t'; break;
      case '\\': text += '\\'; break;
      default: return std::unexpected(concat("text has an unknown escape \\", value[i]));
    }
  }
  return text;
}

std::expected<SimulatedReply, std::string> parse_reply(std::string_view value) {
  if (value == "output") return SimulatedReply::output;
  if (value == "error") return SimulatedReply::error;
  if (value == "empty") return SimulatedReply::empty;
  if (value == "uint32") return SimulatedReply::uint32;
  if (value == "text") return SimulatedReply::text;
  return std::unexpected(std::string("reply must be one of output, error, empty, uint32, text"));
}

Result apply(SimulationControl& control, std::string_view key, std::string_view value) {
  if (key == "status") {
    auto status = parse_decimal<int>(key, value);
    if (!status) return std::unexpected(status.error());
    control.status = *status;
  } else if (key == "delay_ms") {
    auto delay = parse_decimal<long long>(key, value);
    if (!delay) return std::unexpected(delay.error());
    if (*delay < 0 || *delay > longest_simulated_delay.count())
      return std::unexpected(concat("delay_ms must lie between 0 and ", longest_simulated_delay.count()));
    control.delay = std::chrono::milliseconds(*delay);
  } else if (key == "reply") {
    auto reply = parse_reply(value);
    if (!reply) return std::unexpected(reply.error());
    control.reply = *reply;
  } else if (key == "error_name") {
    control.error_name = std::string(value);
  } else if (key == "error_message") {
    control.error_message = std::string(value);
  } else if (key == "text") {
    auto text = unescape(value);
    if (!text) return std::unexpected(text.error());
    control.text = std::move(*text);
  } else {
    return std::unexpected(concat("unknown key \"", key, "\""));
  }
  return {};
}

}  // namespace

std::expected<SimulationControl, std::string> parse_control(std::string_view content) {
  SimulationControl control;
  int number = 0;
  while (!content.empty()) {
    ++number;
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.starts_with('#')) continue;

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos)
      return std::unexpected(concat("Control file line ", number, ": expected key=value"));
    if (auto applied = apply(control, line.substr(0, equals), line.substr(equals + 1)); !applied)
      return std::unexpected(concat("Control file line ", number, ": ", applied.error()));
  }
  return control;
}

std::expected<SimulationControl, std::string> load_control(const std::filesystem::path& file) {
  const auto failure = [&] {
    return std::unexpected(concat("Cannot read control file ", file.string(), ": ", std::strerror(errno)));
  };
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return SimulationControl{};
    return failure();
  }
  std::string content;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const auto error = failure();
      ::close(fd);
      return error;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return parse_control(content);
}

std::string simulated_output(const HciCommand& command, int status) {
  const unsigned opcode = (unsigned(command.group_value & 0x3f) << 10) | (command.command_value & 0x3ffu);
  char text[160];
  const int length = std::snprintf(text, sizeof text,
                                   "< HCI Command: ogf 0x%02x, ocf 0x%04x, plen 1\n"
                                   "  %02X \n"
                                   "> HCI Event: 0x0e plen 4\n"
                                   "  01 %02X %02X %02d \n",
                                   unsigned(command.group_value), unsigned(command.command_value),
                                   unsigned(command.parameter_value), opcode & 0xffu, opcode >> 8, status);
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace bridge
