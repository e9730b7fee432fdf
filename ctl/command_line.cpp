#include "ctl/command_line.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

#include "contract/range_interface.hpp"
#include "ctl/report.hpp"
#include "ctl/time_span.hpp"
#include "text/quoted.hpp"

namespace ctl {
namespace {

using Outcome = std::expected<void, std::string>;

// The word as typed, quoted so that nothing in it is invisible or runs over the screen.
std::string in_quotes(std::string_view text) {
  constexpr std::size_t longest_quoted = 64;
  return text::quoted_start(text, longest_quoted);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "-1", "-007": a value. "-h", "--system", "-": options (the last an unknown one).
bool is_option(std::string_view argument) {
  return argument.size() > 1 && argument[0] == '-' && !is_digit(argument[1]);
}

// A whole decimal number with at most one sign, as the configuration file takes it ("+5", "-1",
// "007"), of any size: one beyond INT32 is as far outside the levels as 31 is.
std::expected<Level, std::string> level_from(std::string_view text) {
  const bool negative = text.starts_with('-');
  std::string_view digits = text.substr(text.starts_with('+') || negative ? 1 : 0);
  if (digits.empty() || !std::ranges::all_of(digits, is_digit)) {
    return std::unexpected("level " + in_quotes(text) + " is not a whole number from " +
                           std::to_string(contract::lowest_level) + " to " + std::to_string(contract::highest_level));
  }
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size() - 1));
  Level level{.decimal = (negative && digits != "0" ? "-" : "") + std::string(digits), .value = std::nullopt};
  std::int32_t value = 0;
  const char* end = level.decimal.data() + level.decimal.size();
  if (const auto read = std::from_chars(level.decimal.data(), end, value); read.ec == std::errc() && read.ptr == end) {
    level.value = value;
  }
  return level;
}

// What reading the line gathers before the verb is known.
struct Reading {
  Request request;
  std::optional<Command> informational;
};

Outcome take_json(Reading& reading, std::string_view mode) {
  if (mode == "short") {
    reading.request.json = JsonMode::short_form;
  } else if (mode == "pretty") {
    reading.request.json = JsonMode::pretty;
  } else if (mode == "off") {
    reading.request.json = JsonMode::off;
  } else {
    return std::unexpected("--json takes short, pretty or off, not " + in_quotes(mode));
  }
  return {};
}

Outcome take_timeout(Reading& reading, std::string_view span) {
  const auto timeout = time_span_from(span);
  if (!timeout) {
    return std::unexpected("timeout " + in_quotes(span) +
                           " is not a time from 1ms to 24h (seconds, or such as 500ms, 2.5s, 1min) or infinity");
  }
  reading.request.timeout = *timeout;
  return {};
}

// "-p Range,Power" and "-p Range -p Power" alike.
Outcome take_properties(Reading& reading, std::string_view names) {
  for (std::size_t start = 0; start <= names.size();) {
    const std::size_t comma = std::min(names.find(',', start), names.size());
    const std::string_view name = names.substr(start, comma - start);
    if (!is_show_property(name)) {
      return std::unexpected("unknown property " + in_quotes(name) + " (the properties are " + show_property_list() +
                             ")");
    }
    reading.request.properties.emplace_back(name);
    start = comma + 1;
  }
  return {};
}

Outcome ask_help(Reading& reading, std::string_view) {
  reading.informational = reading.informational.value_or(Command::help);
  return {};
}

Outcome ask_version(Reading& reading, std::string_view) {
  reading.informational = reading.informational.value_or(Command::version);
  return {};
}

Outcome be_quiet(Reading& reading, std::string_view) {
  reading.request.quiet = true;
  return {};
}

Outcome values_only(Reading& reading, std::string_view) {
  reading.request.values_only = true;
  return {};
}

Outcome no_timestamps(Reading& reading, std::string_view) {
  reading.request.timestamps = false;
  return {};
}

// --system names the only bus there is; nothing is ever paged.
Outcome accepted(Reading&, std::string_view) { return {}; }

struct OptionDef {
  std::string_view name;           // "--json"
  char short_name;                 // 'p', or 0 for none
  bool takes_value;                // "--json=short", "--json short", "-p Range", "-pRange"
  std::span<const Command> verbs;  // empty: every verb
  Outcome (*take)(Reading& reading, std::string_view value);
};

constexpr Command json_verbs[] = {Command::status, Command::get, Command::show, Command::watch};
constexpr Command show_verb[] = {Command::show};
constexpr Command watch_verb[] = {Command::watch};

const OptionDef options[] = {
    {"--system", 0, false, {}, accepted},          {"--help", 'h', false, {}, ask_help},
    {"--version", 0, false, {}, ask_version},      {"--json", 0, true, json_verbs, take_json},
    {"--timeout", 0, true, {}, take_timeout},      {"--quiet", 'q', false, {}, be_quiet},
    {"--no-pager", 0, false, {}, accepted},        {"--property", 'p', true, show_verb, take_properties},
    {"--value", 0, false, show_verb, values_only}, {"--no-timestamps", 0, false, watch_verb, no_timestamps},
};

struct VerbDef {
  std::string_view word;
  Command command;
  bool takes_level;
};

const VerbDef verbs[] = {
    {"status", Command::status, false}, {"get", Command::get, false},     {"show", Command::show, false},
    {"set", Command::set, true},        {"watch", Command::watch, false}, {"help", Command::help, false},
};

// The option an argument names, with the value written into it ("--json=short", "-pRange").
struct Named {
  const OptionDef* option = nullptr;
  std::optional<std::string_view> attached;
};

Named find_option(std::string_view argument) {
  if (argument.starts_with("--")) {
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const auto* found = std::ranges::find(options, name, &OptionDef::name);
    if (found == std::end(options)) return {};
    return {found, equals == std::string_view::npos ? std::nullopt : std::optional(argument.substr(equals + 1))};
  }
  const auto* found = std::ranges::find(options, argument[1], &OptionDef::short_name);
  if (found == std::end(options) || (argument.size() > 2 && !found->takes_value)) return {};
  return {found, argument.size() > 2 ? std::optional(argument.substr(2)) : std::nullopt};
}

std::string verb_list(std::span<const Command> commands) {
  std::string list;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) list += i + 1 == commands.size() ? " and " : ", ";
    list += std::ranges::find(verbs, commands[i], &VerbDef::command)->word;
  }
  return list;
}

std::string_view word_of(Command command) { return std::ranges::find(verbs, command, &VerbDef::command)->word; }

// The verb and its level, once the options are read.
Outcome take_words(Request& request, std::span<const std::string_view> words) {
  if (words.empty()) return {};
  const auto* verb = std::ranges::find(verbs, words.front(), &VerbDef::word);
  if (verb == std::end(verbs)) return std::unexpected("unknown command " + in_quotes(words.front()));
  const std::size_t needed = verb->takes_level ? 2 : 1;
  if (words.size() < needed) return std::unexpected("set needs the level to set");
  if (words.size() > needed) return std::unexpected("unexpected argument " + in_quotes(words[needed]));
  request.command = verb->command;
  if (!verb->takes_level) return {};
  auto level = level_from(words[1]);
  if (!level) return std::unexpected(level.error());
  request.level = std::move(*level);
  return {};
}

}  // namespace

std::expected<Request, std::string> read_command_line(std::span<const std::string_view> arguments) {
  Reading reading;
  std::vector<std::string_view> words;
  std::vector<const OptionDef*> given;
  std::optional<std::string> refusal;  // the first; --help and --version still win over it
  const auto refuse = [&](std::string why) { refusal = refusal.value_or(std::move(why)); };
  bool options_end = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (options_end || !is_option(argument)) {
      words.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_end = true;
      continue;
    }
    auto [option, value] = find_option(argument);
    if (option == nullptr) {
      refuse("unknown option " + in_quotes(argument));
      continue;
    }
    if (option->takes_value && !value && i + 1 < arguments.size()) value = arguments[++i];
    if (option->takes_value && !value) {
      refuse("option " + std::string(option->name) + " needs a value");
    } else if (!option->takes_value && value) {
      refuse("option " + std::string(option->name) + " takes no value");
    } else if (auto taken = option->take(reading, value.value_or("")); !taken) {
      refuse(taken.error());
    }
    given.push_back(option);
  }
  if (reading.informational) return Request{.command = *reading.informational};
  if (refusal) return std::unexpected(*refusal);
  if (auto taken = take_words(reading.request, words); !taken) return std::unexpected(taken.error());
  const Command command = reading.request.command;
  for (const OptionDef* option : given) {
    if (option->verbs.empty() || std::ranges::find(option->verbs, command) != option->verbs.end()) continue;
    return std::unexpected("option " + std::string(option->name) + " is for " + verb_list(option->verbs) + ", not " +
                           std::string(word_of(command)));
  }
  if (reading.request.values_only && reading.request.json != JsonMode::off) {
    return std::unexpected("--value and --json do not go together");
  }
  return reading.request;
}

}  // namespace ctl
