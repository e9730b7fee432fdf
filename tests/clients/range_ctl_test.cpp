// ble-rangectl's outcomes against the real service: what it prints, on which stream, and the
// exit status that tells each kind of outcome apart.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "tests/clients/client_rig.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/sandbox.hpp"

namespace clients {
namespace {

// Before a row runs, the rig is brought into its situation; rows only move forward through these.
enum class Situation { no_service, serving, radio_refuses };

struct Outcome {
  const char* what;
  Situation situation;
  ClientRun client;  // the command without the program
  int status;
  std::string output;
  std::string error;
};

std::string refused(int level) {
  return "Error: cannot set the range to " + std::to_string(level) + ": " + harness::level_refused(level) + "\n";
}

std::string no_service(const char* action) {
  return std::string("Error: cannot ") + action +
         ": ble-ranged is not running (nobody owns com.orbo.RIDEviva on the bus)\n";
}

using RangeCtl = ClientsOnTheBus;

TEST_F(RangeCtl, TellsEveryOutcomeByItsOutputAndExitStatus) {
  // Below a directory only root may enter, as the demo's bus socket is.
  const harness::ScratchDirectory root_only;
  const std::string unreachable_socket = (root_only.path() / "socket").string();
  const Outcome outcomes[] = {
      {"no service", Situation::no_service, {{}}, 5, "", no_service("read the range")},
      {"no service to watch", Situation::no_service, {{"watch"}}, 5, "", no_service("watch the range")},
      {"status, by anyone", Situation::serving, {{}, ordinary_user}, 0, "Range: 7 (-13 dBm)\n", ""},
      {"set", Situation::serving, {{"set", "25"}}, 0, "", ""},
      {"status named", Situation::serving, {{"--system", "status"}}, 0, "Range: 25 (5 dBm)\n", ""},
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
       {{"watch"}, ordinary_user, 12, SIGINT},
       0,
       "Range: 25 (5 dBm)\nRange: 12 (-8 dBm)\n",
       ""},
      {"watch until SIGTERM",
       Situation::serving,
       {{"watch"}, {}, 0, SIGTERM},
       0,
       "Range: 12 (-8 dBm)\nRange: 0 (-20 dBm)\n",
       ""},
      {"set a level the radio refuses",
       Situation::radio_refuses,
       {{"set", "10"}},
       1,
       "",
       "Error: cannot set the range to 10: Set BLE Power failed: 12\n"},
      {"unknown command",
       Situation::radio_refuses,
       {{"get"}},
       2,
       "",
       "Error: unknown command \"get\" (see ble-rangectl --help)\n"},
      {"not a level",
       Situation::radio_refuses,
       {{"set", "2x"}},
       2,
       "",
       "Error: level \"2x\" is not a 32-bit whole number (see ble-rangectl --help)\n"},
      {"version", Situation::radio_refuses, {{"--version"}}, 0, "ble-rangectl " BLE_VERSION "\n", ""},
      {"a bus socket the account may not reach",
       Situation::radio_refuses,
       {.command = {}, .account = ordinary_user, .bus_address = "unix:path=" + unreachable_socket},
       1,
       "",
       "Error: cannot reach the system bus: Failed to connect to socket " + unreachable_socket +
           ": Permission denied\n"},
  };
  // Every account may run this copy: the build tree may lie below a directory only root enters.
  const std::string program = harness::readable_copy(BLE_CTL_PROGRAM);
  Situation now = Situation::no_service;
  for (const auto& [what, situation, client, status, output, error] : outcomes) {
    SCOPED_TRACE(what);
    if (now == Situation::no_service && situation != now) rig_->start_serving();
    if (situation == Situation::radio_refuses && now != situation) rig_->bridge().set_control("status=12\n");
    now = situation;

    ClientRun run_as = client;
    run_as.command.insert(run_as.command.begin(), program);
    const ClientEnd end = run(run_as, output);
    EXPECT_EQ(end.status, harness::ExitStatus::exited(status));
    EXPECT_EQ(end.output, output);
    EXPECT_EQ(end.error, error);
  }
}

}  // namespace
}  // namespace clients
