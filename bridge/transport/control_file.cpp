#include "bridge/transport/control_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <system_error>
#include <utility>

#include "bridge/concat.hpp"
#include "platform/fd/unique_fd.hpp"

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

// One of a key's named values; the error lists them in order.
template <class Choice>
std::expected<Choice, std::string> parse_choice(std::string_view key, std::string_view value,
                                                std::initializer_list<std::pair<std::string_view, Choice>> choices) {
  std::string names;
  for (const auto& [name, choice] : choices) {
    if (name == value) return choice;
    names += names.empty() ? "" : ", ";
    names += name;
  }
  return std::unexpected(concat(key, " must be one of ", names));
}

std::expected<SimulatedReply, std::string> parse_reply(std::string_view value) {
  using enum SimulatedReply;
  return parse_choice<SimulatedReply>(
      "reply", value, {{"output", output}, {"error", error}, {"empty", empty}, {"uint32", uint32}, {"text", text}});
}

std::expected<SimulatedAnswer, std::string> parse_answer(std::string_view value) {
  using enum SimulatedAnswer;
  return parse_choice<SimulatedAnswer>(
      "answer", value, {{"complete", complete}, {"status", status}, {"pending", pending}, {"none", none}});
}

std::expected<SimulatedNoise, std::string> parse_noise(std::string_view value) {
  using enum SimulatedNoise;
  return parse_choice<SimulatedNoise>(
      "before", value, {{"none", none}, {"packets", packets}, {"advertising", advertising}, {"other", other}});
}

// Bytes as two hex digits each, separated by blanks: "05 ff".
std::expected<std::vector<std::uint8_t>, std::string> parse_bytes(std::string_view value) {
  std::vector<std::uint8_t> bytes;
  while (!value.empty()) {
    if (value.front() == ' ') {
      value.remove_prefix(1);
      continue;
    }
    std::uint8_t byte{};
    const auto [end, ec] =
        std::from_chars(value.data(), value.data() + std::min<std::size_t>(2, value.size()), byte, 16);
    const bool separated = value.size() <= 2 || value[2] == ' ';
    if (ec != std::errc() || end != value.data() + 2 || !separated || bytes.size() == 250)
      return std::unexpected(
          std::string("extra must be at most 250 bytes of two hex digits each, separated by blanks"));
    bytes.push_back(byte);
    value.remove_prefix(2);
  }
  return bytes;
}

Result apply(SimulationControl& control, std::string_view key, std::string_view value) {
  if (key == "status") {
    auto status = parse_decimal<int>(key, value);
    if (!status) return std::unexpected(status.error());
    if (*status < -128 || *status > 255) return std::unexpected(std::string("status must lie between -128 and 255"));
    control.status = *status;
  } else if (key == "extra") {
    auto extra = parse_bytes(value);
    if (!extra) return std::unexpected(extra.error());
    control.extra = std::move(*extra);
  } else if (key == "answer") {
    auto answer = parse_answer(value);
    if (!answer) return std::unexpected(answer.error());
    control.answer = *answer;
  } else if (key == "before") {
    auto before = parse_noise(value);
    if (!before) return std::unexpected(before.error());
    control.before = *before;
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
  const platform::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) {
    if (errno == ENOENT) return SimulationControl{};
    return failure();
  }
  std::string content;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd.get(), buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failure();
    content.append(buffer, static_cast<std::size_t>(n));
    if (content.size() > largest_control_file)
      return std::unexpected(concat("Control file ", file.string(), " is larger than 64 KiB"));
  }
  return parse_control(content);
}

}  // namespace bridge
