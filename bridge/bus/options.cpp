#include "bridge/bus/options.hpp"

#include <pwd.h>

#include <algorithm>
#include <charconv>

#include "bridge/concat.hpp"
#include "text/quoted.hpp"

namespace bridge {
namespace {

constexpr std::string_view help =
    "Usage: hcitool-bridge [OPTION]...\n"
    "Owns com.orbo.ZozovoZorOrevov on the system bus and sets a controller's transmit power for\n"
    "each ExecuteHcitool call (CONTROLLER GROUP COMMAND PARAMETER). Only this command is sent:\n"
    "controller \"hciN\", group 0x3f, command 0x0087 and a power from -30 to 20 dBm as a signed\n"
    "byte (0xe2 to 0xff or 0x0 to 0x14); anything else is refused. The command goes over a raw\n"
    "HCI socket, which needs CAP_NET_RAW. The reply is what hcitool would print for the command\n"
    "and its answer, then a last line \"Status: N\", the answer's status byte in signed decimal.\n"
    "Every call is answered within 4.5 s of its arrival. The last level accepted from an account\n"
    "given with --allow-user is sent again whenever its controller powers on.\n"
    "\n"
    "  --hcitool PATH        run this tool instead (PATH -i CONTROLLER cmd 0x3f 0x0087\n"
    "                        PARAMETER), up to 3 times until it prints the command's answer\n"
    "  --allow-user NAME|UID serve this account besides root and keep its levels for power-ons\n"
    "                        (repeatable); root's own calls are kept only when it is named\n"
    "  --simulate            emulate the controller instead of reaching one\n"
    "  --control FILE        with --simulate: key=value lines read for every command; a missing\n"
    "                        file means defaults. The controller's answer:\n"
    "                          status=N      status byte, -128 to 255 (default 0)\n"
    "                          extra=HH ...  return bytes after the status\n"
    "                          answer=complete|status|pending|none\n"
    "                                        Command Complete, Command Status alone, Command\n"
    "                                        Status 0 then Complete, or silence\n"
    "                          before=none|packets|advertising|other\n"
    "                                        an unrelated event first\n"
    "                          delay_ms=N    the answer comes N ms late (at most 60000)\n"
    "                        What the caller gets in place of the answer:\n"
    "                          reply=output|error|empty|uint32|text\n"
    "                                        the answer itself, an error reply (error_name=,\n"
    "                                        error_message=), no argument, a uint32, or\n"
    "                                        text= (escapes \\n \\r \\t \\\\)\n"
    "  --log FILE            append \"CONTROLLER 0x3f 0x0087 PARAMETER\" per command a call sent\n"
    "  -h, --help            show this text and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Commands to one controller wait for each other; a restore after a power-on waits at most\n"
    "4 s for its answer. A tool's standard error is quoted only in the error reply of a failed\n"
    "run; its output is capped at 64 KiB.\n";

// `user` is never empty: every option's value is checked for that first.
std::expected<uid_t, std::string> resolve_user(std::string_view user) {
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
      if (i + 1 >= args.size()) return std::unexpected(concat("option ", option, " needs a value"));
      return args[++i];
    };
    const auto flag = [&](bool& target) -> std::expected<void, std::string> {
      if (inline_value) return std::unexpected(concat("option ", option, " takes no value"));
      target = true;
      return {};
    };

    std::expected<void, std::string> done;
    if (option == "--help" || option == "-h") {
      done = flag(options.help);
    } else if (option == "--version") {
      done = flag(options.version);
    } else if (option == "--simulate") {
      done = flag(options.simulate);
    } else if (option == "--hcitool" || option == "--control" || option == "--log" || option == "--allow-user") {
      auto text = value();
      if (!text) return std::unexpected(text.error());
      if (text->empty()) return std::unexpected(concat("option ", option, " needs a non-empty value"));
      if (option == "--hcitool") options.hcitool = std::string(*text);
      if (option == "--control") options.control = std::filesystem::path(*text);
      if (option == "--log") options.log = std::filesystem::path(*text);
      if (option == "--allow-user") {
        auto uid = resolve_user(*text);
        if (!uid) return std::unexpected(uid.error());
        options.allowed_users.push_back(*uid);
      }
    } else {
      // As the other programs of this system word it; the caller adds where help is.
      const bool is_option = args[i].starts_with('-');
      return std::unexpected(
          concat(is_option ? "unknown option " : "unexpected argument ", text::quoted_start(args[i], 64)));
    }
    if (!done) return std::unexpected(done.error());
  }
  if (options.control && !options.simulate) return std::unexpected(std::string("--control needs --simulate"));
  return options;
}

std::string_view help_text() noexcept { return help; }

bool is_allowed(const BridgeOptions& options, uid_t uid) noexcept { return uid == 0 || is_remembered(options, uid); }

bool is_remembered(const BridgeOptions& options, uid_t uid) noexcept {
  return std::ranges::find(options.allowed_users, uid) != options.allowed_users.end();
}

}  // namespace bridge
