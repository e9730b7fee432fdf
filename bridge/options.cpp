#include "bridge/options.hpp"

#include <pwd.h>

#include <algorithm>
#include <charconv>

#include "bridge/concat.hpp"

namespace bridge {
namespace {

constexpr std::string_view help =
    "Usage: hcitool-bridge [OPTION]...\n"
    "Owns com.orbo.ZozovoZorOrevov on the system bus and sends one HCI command per\n"
    "ExecuteHcitool call (CONTROLLER GROUP COMMAND PARAMETER) to the controller over a raw HCI\n"
    "socket, which needs CAP_NET_RAW. The reply is what hcitool would print for the command and\n"
    "its answer, then a last line \"Status: N\", the answer's status byte in signed decimal.\n"
    "\n"
    "  --hcitool PATH        run this tool instead (PATH -i CONTROLLER cmd GROUP COMMAND\n"
    "                        PARAMETER), up to 3 times until it prints the command's answer\n"
    "  --allow-user NAME|UID also serve this user besides root (repeatable)\n"
    "  --simulate            emulate the controller instead of reaching one\n"
    "  --control FILE        with --simulate: key=value lines read on every call; a missing\n"
    "                        file means defaults. The controller's answer:\n"
    "                          status=N      status byte, -128 to 255 (default 0)\n"
    "                          extra=HH ...  return bytes after the status\n"
    "                          answer=complete|status|pending|none\n"
    "                                        Command Complete, Command Status alone, Command\n"
    "                                        Status 0 then Complete, or silence\n"
    "                          before=none|packets|advertising|other\n"
    "                                        an unrelated event first\n"
    "                        The bridge's own behaviour:\n"
    "                          delay_ms=N    stall N ms before replying (at most 60000)\n"
    "                          reply=output|error|empty|uint32|text\n"
    "                                        the controller's answer, an error reply\n"
    "                                        (error_name=, error_message=), no argument,\n"
    "                                        a uint32, or text= (escapes \\n \\r \\t \\\\)\n"
    "  --log FILE            append \"CONTROLLER GROUP COMMAND PARAMETER\" per command\n"
    "  --help                show this text and exit\n"
    "\n"
    "The controller's answer is awaited for 4 s; events about other commands are skipped.\n"
    "A tool's standard error is quoted only in the error reply of a failed run; its output\n"
    "is capped at 64 KiB.\n";

std::expected<uid_t, std::string> resolve_user(std::string_view user) {
  if (user.empty()) return std::unexpected(std::string("--allow-user needs a user name or uid"));
  if (std::all_of(user.begin(), user.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    uid_t uid{};
    const auto [end, ec] = std::from_chars(user.data(), user.data() + user.size(), uid);
    if (ec != std::errc() || end != user.data() + user.size() || uid == static_cast<uid_t>(-1))
      return std::unexpected(concat("Invalid uid \"", user, "\""));
    return uid;
  }
  const std::string name(user);
  const passwd* entry = ::getpwnam(name.c_str());
  if (entry == nullptr) return std::unexpected(concat("Unknown user \"", user, "\""));
  return entry->pw_uid;
}

}  // namespace

std::expected<BridgeOptions, std::string> parse_options(std::span<const std::string_view> args) {
  BridgeOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view option = args[i];
    std::optional<std::string_view> inline_value;
    if (const std::size_t equals = option.find('='); option.starts_with("--") && equals != std::string_view::npos) {
      inline_value = option.substr(equals + 1);
      option = option.substr(0, equals);
    }
    const auto value = [&]() -> std::expected<std::string_view, std::string> {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) return std::unexpected(concat(option, " needs a value"));
      return args[++i];
    };
    const auto flag = [&](bool& target) -> std::expected<void, std::string> {
      if (inline_value) return std::unexpected(concat(option, " takes no value"));
      target = true;
      return {};
    };

    std::expected<void, std::string> done;
    if (option == "--help") {
      done = flag(options.help);
    } else if (option == "--simulate") {
      done = flag(options.simulate);
    } else if (option == "--hcitool" || option == "--control" || option == "--log" || option == "--allow-user") {
      auto text = value();
      if (!text) return std::unexpected(text.error());
      if (text->empty()) return std::unexpected(concat(option, " needs a non-empty value"));
      if (option == "--hcitool") options.hcitool = std::string(*text);
      if (option == "--control") options.control = std::filesystem::path(*text);
      if (option == "--log") options.log = std::filesystem::path(*text);
      if (option == "--allow-user") {
        auto uid = resolve_user(*text);
        if (!uid) return std::unexpected(uid.error());
        options.allowed_users.push_back(*uid);
      }
    } else {
      return std::unexpected(concat("Unknown option \"", args[i], "\" (see --help)"));
    }
    if (!done) return std::unexpected(done.error());
  }
  if (options.control && !options.simulate) return std::unexpected(std::string("--control needs --simulate"));
  return options;
}

std::string_view help_text() noexcept { return help; }

bool is_allowed(const BridgeOptions& options, uid_t uid) noexcept {
  return uid == 0 || std::ranges::find(options.allowed_users, uid) != options.allowed_users.end();
}

}  // namespace bridge
