#include "ctl/command_line.hpp"

#include <charconv>
#include <optional>
#include <vector>

namespace ctl {
namespace {

// The word as typed, between double quotes: the person at the prompt sees what they wrote.
std::string in_quotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

// "-1", "-007": a value. "-h", "--system", "-": options (the last an unknown one).
bool is_option(std::string_view argument) {
  return argument.size() > 1 && argument[0] == '-' && (argument[1] < '0' || argument[1] > '9');
}

std::expected<std::int32_t, std::string> level_from(std::string_view text) {
  std::int32_t level = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), level);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::unexpected("level " + in_quotes(text) + " is not a 32-bit whole number");
  }
  return level;
}

std::expected<Request, std::string> from_words(std::span<const std::string_view> words) {
  if (words.empty()) return Request{Command::status};
  const std::string_view command = words.front();
  const std::size_t needed = command == "set" ? 2 : 1;
  if (command != "status" && command != "set" && command != "watch") {
    return std::unexpected("unknown command " + in_quotes(command));
  }
  if (words.size() < needed) return std::unexpected("set needs the level to set");
  if (words.size() > needed) return std::unexpected("unexpected argument " + in_quotes(words[needed]));
  if (command == "status") return Request{Command::status};
  if (command == "watch") return Request{Command::watch};
  auto level = level_from(words[1]);
  if (!level) return std::unexpected(level.error());
  return Request{Command::set, *level};
}

}  // namespace

std::expected<Request, std::string> read_command_line(std::span<const std::string_view> arguments) {
  std::vector<std::string_view> words;
  std::optional<Command> informational;
  std::optional<std::string> unknown;
  bool options_end = false;
  for (const std::string_view argument : arguments) {
    if (options_end || !is_option(argument)) {
      words.push_back(argument);
    } else if (argument == "--") {
      options_end = true;
    } else if (argument == "--help" || argument == "-h") {
      informational = informational.value_or(Command::help);
    } else if (argument == "--version") {
      informational = informational.value_or(Command::version);
    } else if (argument != "--system" && !unknown) {
      unknown = "unknown option " + in_quotes(argument);
    }
  }
  if (informational) return Request{*informational};
  if (unknown) return std::unexpected(*unknown);
  return from_words(words);
}

}  // namespace ctl
