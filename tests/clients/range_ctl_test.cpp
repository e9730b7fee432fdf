// ble-rangectl's outcomes against the real service: what it prints, on which stream, and the
// exit status that tells each kind of outcome apart; and watch across a restart of the service.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fd/unique_fd.hpp"
#include "tests/clients/client_rig.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/sandbox.hpp"

namespace clients {
namespace {

using namespace std::chrono_literals;

// Before a row runs, the rig is brought into its situation; rows only move forward through these.
enum class Situation { no_service, serving, slow_radio, radio_refuses, no_bridge, frozen };

// How the output is held to the row's: bytes alone, or also as JSON that a parser reads, one
// document a line or the whole output one document.
enum class Form { text, json_lines, json_document };

struct Outcome {
  const char* what;
  Situation situation;
  ClientRun client;  // the command without the program
  int status;
  std::string output;
  std::string error;
  Form form = Form::text;
};

std::string refused(int level) {
  return "Error: cannot set the range to " + std::to_string(level) + ": " + harness::level_refused(level) + "\n";
}

std::string no_service(const char* action) {
  return std::string("Error: cannot ") + action +
         ": ble-ranged is not running (nobody owns com.orbo.RIDEviva on the bus)\n";
}

std::string usage(const std::string& why) { return "Error: " + why + " (see ble-rangectl --help)\n"; }

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void expect_json(const std::string& output, Form form) {
  if (form == Form::json_document) {
    EXPECT_TRUE(nlohmann::json::accept(output)) << output;
    return;
  }
  for (const std::string& line : lines_of(output)) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
}

using RangeCtl = ClientsOnTheBus;

TEST_F(RangeCtl, TellsEveryOutcomeByItsOutputAndExitStatus) {
  // Below a directory only root may enter, as the demo's bus socket is.
  const harness::ScratchDirectory root_only;
  const std::string unreachable_socket = (root_only.path() / "socket").string();
  // A socket that takes connections into its queue and never reads them: a bus daemon that hangs.
  const std::string silent_socket = (root_only.path() / "silent").string();
  const platform::UniqueFd silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  silent_socket.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(silent.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent.get(), 8), 0);
  // The sandboxed /etc/wireless lies below such a directory too: an ordinary account reads no
  // stored level.
  const std::string unreadable_file =
      "Warning: cannot read the stored level: couldn't open /etc/wireless/bluetooth.conf: Permission denied (os "
      "error 13)\n";
  // Every account may run this copy: the build tree may lie below a directory only root enters.
  const std::string program = harness::readable_copy(BLE_CTL_PROGRAM);
  const std::string help = harness::run_to_end(program, {.arguments = {"--help"}}).standard_output;
  const std::string no_reply =
      "Error: cannot read the range: Did not receive a reply. Possible causes include: the remote application did "
      "not send a reply, the message bus security policy blocked the reply, the reply timeout expired, or the "
      "network connection was broken.\n";
  const Outcome outcomes[] = {
      {"no service", Situation::no_service, {{}}, 5, "", no_service("read the range")},
      {"no service to get", Situation::no_service, {{"get"}}, 5, "", no_service("read the range")},
      {"no service to watch: it says so and waits",
       Situation::no_service,
       {{"watch", "--no-timestamps"}, {}, std::nullopt, SIGINT},
       0,
       "ble-ranged is not running\n",
       ""},
      {"no service to show: a state, not a failure",
       Situation::no_service,
       {{"show"}},
       0,
       "Range=\nPower=\nStoredRange=7\nRunning=no\nUniqueName=\n",
       ""},
      {"status, by anyone", Situation::serving, {{}, ordinary_user}, 0, "Range: 7 (-13 dBm)\n", ""},
      {"get, the level alone", Situation::serving, {{"get"}}, 0, "7\n", ""},
      {"get as JSON", Situation::serving, {{"--json=short", "get"}}, 0, "{\"Range\":7}\n", "", Form::json_lines},
      {"status as pretty JSON",
       Situation::serving,
       {{"status", "--json", "pretty"}},
       0,
       "{\n  \"Range\": 7,\n  \"Power\": -13\n}\n",
       "",
       Form::json_document},
      {"show the values asked for", Situation::serving, {{"show", "-p", "Range,Power", "--value"}}, 0, "7\n-13\n", ""},
      {"show as JSON",
       Situation::serving,
       {{"show", "--json=short", "-pStoredRange", "--property=Running"}},
       0,
       "{\"StoredRange\":7,\"Running\":true}\n",
       "",
       Form::json_lines},
      {"show by anyone, warned of the file",
       Situation::serving,
       {{"show", "-p", "Range,StoredRange,Running"}, ordinary_user},
       0,
       "Range=7\nStoredRange=\nRunning=yes\n",
       unreadable_file},
      {"show warns only of the stored level shown",
       Situation::serving,
       {{"show", "-pRange"}, ordinary_user},
       0,
       "Range=7\n",
       ""},
      {"standard output closed: nothing reaches the bus socket",
       Situation::serving,
       {.command = {"get"}, .redirection = ">&-"},
       0,
       "",
       ""},
      {"version with standard output closed",
       Situation::serving,
       {.command = {"--version"}, .redirection = ">&-"},
       0,
       "",
       ""},
      {"standard output full",
       Situation::serving,
       {.command = {"get"}, .redirection = ">/dev/full"},
       1,
       "",
       "Error: cannot write to standard output: No space left on device\n"},
      {"a bus socket that never answers",
       Situation::serving,
       {.command = {"--timeout=1", "get"}, .bus_address = "unix:path=" + silent_socket},
       1,
       "",
       "Error: cannot reach the system bus: the bus daemon did not answer within 1 s\n"},
      {"show quietly",
       Situation::serving,
       {{"-q", "--no-pager", "show", "--property", "StoredRange"}, ordinary_user},
       0,
       "StoredRange=\n",
       ""},
      {"set, a sign allowed", Situation::serving, {{"set", "+25", "--timeout=2.5"}}, 0, "", ""},
      {"status named",
       Situation::serving,
       {{"--system", "status", "--timeout=infinity"}},
       0,
       "Range: 25 (5 dBm)\n",
       ""},
      {"set above the range", Situation::serving, {{"set", "31"}}, 3, "", refused(31)},
      {"set a negative level", Situation::serving, {{"set", "-1"}}, 3, "", refused(-1)},
      {"set by an ordinary account",
       Situation::serving,
       {{"set", "12"}, ordinary_user},
       4,
       "",
       "Error: cannot set the range to 12: not permitted by the bus policy (setting the range needs root or the "
       "group " BLE_ADMIN_GROUP ")\n"},
      {"watch until SIGINT",
       Situation::serving,
       {{"watch", "--no-timestamps"}, ordinary_user, 12, SIGINT},
       0,
       "Range: 25 (5 dBm)\nRange: 12 (-8 dBm)\n",
       ""},
      {"watch until SIGTERM",
       Situation::serving,
       {{"--no-timestamps", "watch"}, {}, 0, SIGTERM},
       0,
       "Range: 12 (-8 dBm)\nRange: 0 (-20 dBm)\n",
       ""},
      {"watch as JSON, an object a line",
       Situation::serving,
       {{"watch", "--json=short", "--no-timestamps"}, {}, 30, SIGINT},
       0,
       "{\"Range\":0,\"Power\":-20}\n{\"Range\":30,\"Power\":10}\n",
       "",
       Form::json_lines},
      {"set answered late: the outcome is not known",
       Situation::slow_radio,
       {{"--timeout=1", "set", "18"}},
       6,
       "",
       "Error: the range may or may not be set to 18: ble-ranged did not answer within 1 s (\"ble-rangectl get\" "
       "shows the level it holds)\n"},
      {"the late set took", Situation::slow_radio, {{"get"}}, 0, "18\n", ""},
      {"set a level the radio refuses",
       Situation::radio_refuses,
       {{"set", "10"}},
       1,
       "",
       "Error: cannot set the range to 10: Set BLE Power failed: 12\n"},
      {"help", Situation::radio_refuses, {{"help"}}, 0, help, ""},
      {"version", Situation::radio_refuses, {{"--version"}}, 0, "ble-rangectl " BLE_VERSION "\n", ""},
      {"help wins", Situation::radio_refuses, {{"--frob", "-h", "get"}}, 0, help, ""},
      {"unknown command", Situation::radio_refuses, {{"frob"}}, 2, "", usage("unknown command \"frob\"")},
      {"unknown option", Situation::radio_refuses, {{"get", "--frob"}}, 2, "", usage("unknown option \"--frob\"")},
      {"not a level, quoted",
       Situation::radio_refuses,
       {{"set", "5\n\x1b"}},
       2,
       "",
       usage("level \"5\\n\\u{1b}\" is not a whole number from 0 to 30")},
      {"too large for the bus, refused as the service refuses",
       Situation::radio_refuses,
       {{"set", "+04294967297"}},
       3,
       "",
       "Error: cannot set the range to 4294967297: Invalid argument Bluetooth LE range 4294967297 not between [0, "
       "30]\n"},
      {"an option of another command",
       Situation::radio_refuses,
       {{"get", "--value"}},
       2,
       "",
       usage("option --value is for show, not get")},
      {"an unknown property",
       Situation::radio_refuses,
       {{"show", "-p", "Range,range"}},
       2,
       "",
       usage("unknown property \"range\" (the properties are Range, Power, StoredRange, Running and UniqueName)")},
      {"an unknown JSON form",
       Situation::radio_refuses,
       {{"--json=yaml"}},
       2,
       "",
       usage("--json takes short, pretty or off, not \"yaml\"")},
      {"no time to wait",
       Situation::radio_refuses,
       {{"--timeout=0ms", "get"}},
       2,
       "",
       usage("timeout \"0ms\" is not a time from 1ms to 24h (seconds, or such as 500ms, 2.5s, 1min) or infinity")},
      {"a bus socket the account may not reach",
       Situation::radio_refuses,
       {.command = {}, .account = ordinary_user, .bus_address = "unix:path=" + unreachable_socket},
       1,
       "",
       "Error: cannot reach the system bus: Failed to connect to socket " + unreachable_socket +
           ": Permission denied\n"},
      {"set without the bridge",
       Situation::no_bridge,
       {{"set", "10"}},
       5,
       "",
       "Error: cannot set the range to 10: ble-ranged cannot reach the radio: hcitool-bridge is not running (nobody "
       "owns com.orbo.ZozovoZorOrevov on the bus)\n"},
      {"a service that does not answer, within the timeout",
       Situation::frozen,
       {{"get", "--timeout=300ms"}},
       1,
       "",
       no_reply},
  };
  Situation now = Situation::no_service;
  for (const auto& [what, situation, client, status, output, error, form] : outcomes) {
    SCOPED_TRACE(what);
    if (now == Situation::no_service && situation != now) rig_->start_serving();
    if (situation == Situation::slow_radio && now != situation) rig_->bridge().set_control("delay_ms=3000\n");
    if (situation >= Situation::radio_refuses && now < Situation::radio_refuses) {
      rig_->bridge().set_control("status=12\n");
    }
    if (situation >= Situation::no_bridge && now < Situation::no_bridge) rig_->bridge().process().stop();
    if (situation == Situation::frozen && now != situation) rig_->service().send_signal(SIGSTOP);
    now = situation;

    ClientRun run_as = client;
    run_as.command.insert(run_as.command.begin(), program);
    const ClientEnd end = run(run_as, output);
    EXPECT_EQ(end.status, harness::ExitStatus::exited(status));
    EXPECT_EQ(end.output, output);
    EXPECT_EQ(end.error, error);
    if (form != Form::text) expect_json(end.output, form);
  }
  if (now == Situation::frozen) rig_->service().send_signal(SIGCONT);
}

// Local time to the millisecond with its offset, "2026-12-07T11:57:27.028+01:00": 9 stands for
// any digit, + for either sign. (No std::regex: GCC 12 warns inside it in the sanitized build.)
bool is_timestamp(std::string_view text) {
  constexpr std::string_view shape = "9999-99-99T99:99:99.999+99:99";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const char c = text[i];
    const bool fits = shape[i] == '9' ? c >= '0' && c <= '9' : shape[i] == '+' ? c == '+' || c == '-' : c == shape[i];
    if (!fits) return false;
  }
  return true;
}

TEST_F(RangeCtl, WatchFollowsTheServiceAcrossAStopAndAStart) {
  auto text = rig_->bus().start(BLE_CTL_PROGRAM, {.arguments = {"watch"}});
  auto json = rig_->bus().start(BLE_CTL_PROGRAM, {.arguments = {"watch", "--json=short"}});
  const auto both_have = [&](std::size_t count) {
    for (harness::Process* watch : {text.get(), json.get()}) {
      const auto has = [&] { return lines_of(watch->standard_output()).size() >= count; };
      if (!watch->wait_until(has)) return false;
    }
    return true;
  };
  const auto unique_name = [&] {
    const auto owner = rig_->client(BLE_CTL_PROGRAM, {"show", "-p", "UniqueName", "--value"});
    return owner.standard_output.substr(0, owner.standard_output.find('\n'));
  };
  ASSERT_TRUE(both_have(1)) << text->standard_error() << json->standard_error() << text->standard_output();
  rig_->start_serving();
  ASSERT_TRUE(both_have(3));
  const std::string first_name = unique_name();
  rig_->service().stop();
  ASSERT_TRUE(both_have(4));
  // Changed while the service was away: the watch must not go on showing 7.
  rig_->sandbox().write_config(harness::stored_file(9));
  rig_->start_serving();
  ASSERT_TRUE(both_have(6));
  const auto set = rig_->client(BLE_CTL_PROGRAM, {"set", "12"});
  ASSERT_EQ(set.status, harness::ExitStatus::exited(0)) << set.standard_error;
  ASSERT_TRUE(both_have(7));
  const std::string second_name = unique_name();
  ASSERT_TRUE(first_name.starts_with(":1.") && second_name.starts_with(":1.")) << first_name << second_name;

  for (harness::Process* watch : {text.get(), json.get()}) {
    watch->send_signal(SIGINT);
    EXPECT_EQ(watch->wait_for_exit(), harness::ExitStatus::exited(0)) << watch->standard_error();
  }
  const std::vector<std::string> told = {
      "ble-ranged is not running", "ble-ranged started (" + first_name + ")",  "Range: 7 (-13 dBm)",
      "ble-ranged stopped",        "ble-ranged started (" + second_name + ")", "Range: 9 (-11 dBm)",
      "Range: 12 (-8 dBm)"};
  const std::vector<nlohmann::json> objects = {
      {{"Running", false}},          {{"Running", true}, {"UniqueName", first_name}},  {{"Range", 7}, {"Power", -13}},
      {{"Running", false}},          {{"Running", true}, {"UniqueName", second_name}}, {{"Range", 9}, {"Power", -11}},
      {{"Range", 12}, {"Power", -8}}};
  const auto text_lines = lines_of(text->standard_output());
  const auto json_lines = lines_of(json->standard_output());
  ASSERT_EQ(text_lines.size(), told.size()) << text->standard_output();
  ASSERT_EQ(json_lines.size(), objects.size()) << json->standard_output();
  std::string previous_stamp;
  for (std::size_t i = 0; i < told.size(); ++i) {
    SCOPED_TRACE(told[i]);
    const std::size_t blank = text_lines[i].find(' ');
    const std::string stamp = text_lines[i].substr(0, blank);
    EXPECT_TRUE(is_timestamp(stamp)) << text_lines[i];
    EXPECT_EQ(text_lines[i].substr(blank + 1), told[i]);
    EXPECT_GE(stamp, previous_stamp);  // same offset throughout: text order is time order
    previous_stamp = stamp;
    ASSERT_TRUE(nlohmann::json::accept(json_lines[i])) << json_lines[i];
    nlohmann::json object = nlohmann::json::parse(json_lines[i]);
    ASSERT_TRUE(object.contains("Timestamp")) << json_lines[i];
    EXPECT_TRUE(is_timestamp(object["Timestamp"].get<std::string>())) << json_lines[i];
    object.erase("Timestamp");
    EXPECT_EQ(object, objects[i]);
  }
}

}  // namespace
}  // namespace clients
