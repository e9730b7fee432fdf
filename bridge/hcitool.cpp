#include "bridge/hcitool.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "bridge/concat.hpp"
#include "dbus/utf8.hpp"

namespace bridge {
namespace {

std::string printed(const ProcessResult& result) { return dbus::to_bus_text(result.output + result.errors); }

constexpr std::string_view event_head = "> HCI Event: 0x";
constexpr std::string_view byte_line_start = "  ";

// "0e plen 4": the code and the length the tool announces.
std::optional<std::pair<std::uint8_t, unsigned>> read_event_head(std::string_view rest) {
  if (rest.size() < 2) return std::nullopt;
  const auto high = hex_value(rest[0]), low = hex_value(rest[1]);
  rest.remove_prefix(2);
  if (!high || !low || !rest.starts_with(" plen ")) return std::nullopt;
  rest.remove_prefix(6);
  unsigned length = 0;
  if (rest.empty() || rest.size() > 3) return std::nullopt;
  for (const char c : rest) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + unsigned(c - '0');
  }
  if (length > 255) return std::nullopt;
  return std::pair{static_cast<std::uint8_t>(*high << 4 | *low), length};
}

// "  01 87 FC 00 ": each byte as two hex digits and a blank.
bool read_byte_line(std::string_view line, std::vector<std::uint8_t>& bytes) {
  line.remove_prefix(byte_line_start.size());
  if (line.empty() || line.size() % 3 != 0) return false;
  for (; !line.empty(); line.remove_prefix(3)) {
    const auto high = hex_value(line[0]), low = hex_value(line[1]);
    if (!high || !low || line[2] != ' ') return false;
    bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  return true;
}

std::string with_final_line_feed(std::string text) {
  if (!text.empty() && !text.ends_with('\n')) text += '\n';
  return text;
}

}  // namespace

std::vector<std::string> hcitool_argv(const std::string& tool, const HciCommand& command) {
  return {tool, "-i", command.controller, "cmd", command.group, command.command, command.parameter};
}

std::string describe_spawn_failure(const std::string& tool, SpawnFailure failure) {
  return dbus::to_bus_text(concat("Cannot start ", tool, ": ", std::strerror(failure.error)));
}

std::string describe_failed_run(const std::string& tool, const ProcessResult& result, RunLimits limits) {
  std::string text;
  switch (result.end) {
    case ProcessResult::End::timed_out:
      text = concat(tool, " did not finish within ", limits.time_limit.count(), " ms and was killed");
      break;
    case ProcessResult::End::signalled:
      text =
          concat(tool, " was killed by signal ", result.code, " (", ::strsignal(result.code), "): ", printed(result));
      break;
    case ProcessResult::End::exited:
      if (result.code == 0 && result.truncated)
        text = concat(tool, " printed more than ", limits.output_limit, " bytes");
      else text = concat(tool, " exited with status ", result.code, ": ", printed(result));
      break;
  }
  return dbus::to_bus_text(text);
}

std::expected<HciEvent, std::string> read_printed_event(std::string_view printed) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < printed.size();) {
    const std::size_t end = std::min(printed.find('\n', start), printed.size());
    lines.push_back(printed.substr(start, end - start));
    start = end + 1;
  }
  std::size_t at = 0;
  while (at < lines.size() && !lines[at].starts_with(event_head)) ++at;
  if (at == lines.size()) return std::unexpected(std::string("no HCI event"));

  const auto head = read_event_head(lines[at].substr(event_head.size()));
  if (!head) return std::unexpected(std::string("an unreadable event line"));
  HciEvent event{head->first, {}};
  for (++at; at < lines.size() && lines[at].starts_with(byte_line_start); ++at)
    if (!read_byte_line(lines[at], event.parameters)) return std::unexpected(std::string("an unreadable byte line"));
  if (at != lines.size()) return std::unexpected(std::string("more after the event"));
  if (event.parameters.size() != head->second)
    return std::unexpected(std::string("an event whose length disagrees with its bytes"));
  return event;
}

std::expected<HciAnswer, std::string> run_hcitool(const std::string& tool, const HciCommand& command,
                                                  RunLimits limits) {
  // The tool prints the first event that it reads, whatever it is, and leaves before a pending
  // command completes. Setting the transmit power twice does no harm, so it is asked again.
  const auto deadline = std::chrono::steady_clock::now() + limits.time_limit;
  std::string output;
  int runs = 0;
  while (runs < hcitool_runs) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    ++runs;
    auto result = run_process(hcitool_argv(tool, command), {left, limits.output_limit});
    if (!result) return std::unexpected(describe_spawn_failure(tool, result.error()));
    // Cut output cannot be trusted to hold the whole event, so it is never passed on as success.
    const bool succeeded = result->end == ProcessResult::End::exited && result->code == 0 && !result->truncated;
    if (!succeeded) return std::unexpected(describe_failed_run(tool, *result, limits));

    output = dbus::to_bus_text(result->output);
    const auto unreadable = [&](std::string_view why) {
      return std::unexpected(concat(tool, " printed ", why, ": ", output));
    };
    auto event = read_printed_event(result->output);
    if (!event) return unreadable(event.error());
    auto meaning = interpret(*event, opcode_of(command));
    if (!meaning) return unreadable(meaning.error());
    if (meaning->kind == EventMeaning::Kind::answered)
      return HciAnswer{with_final_line_feed(std::move(output)) + status_line(meaning->status), meaning->status};
  }
  return std::unexpected(concat(tool, " printed no answer to command ", command.group, ' ', command.command, " in ",
                                runs, runs == 1 ? " run" : " runs", ": ", output));
}

}  // namespace bridge
