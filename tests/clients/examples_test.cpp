// The examples for app developers read, set and watch Range on the real service; each level
// one sets, the next one reads.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/clients/client_rig.hpp"

namespace clients {
namespace {

struct ExampleRun {
  const char* what;
  ClientRun client;
  std::string output;
};

using Examples = ClientsOnTheBus;

TEST_F(Examples, ReadSetAndWatchTheRange) {
  const char* python = BLE_PYTHON_EXAMPLE;
  const char* sd_bus = BLE_SD_BUS_EXAMPLE;
  const char* sdbus_cpp = BLE_SDBUS_CPP_EXAMPLE;
  const ExampleRun runs[] = {
      {"Python reads", {{"/usr/bin/python3", python, "get"}}, "7\n"},
      {"Python sets", {{"/usr/bin/python3", python, "set", "25"}}, ""},
      {"sd-bus reads", {{sd_bus, "get"}}, "25\n"},
      {"sd-bus sets", {{sd_bus, "set", "+12"}}, ""},
      {"the generated proxy reads", {{BLE_GENERATED_PROXY_EXAMPLE}}, "12\n"},
      {"sdbus-c++ sets", {{sdbus_cpp, "set", "9"}}, ""},
      {"sdbus-c++ reads", {{sdbus_cpp, "get"}}, "9\n"},
      {"Python watches", {{"/usr/bin/python3", python, "watch"}, {}, 3, SIGINT}, "9\n3\n"},
      {"sd-bus watches", {{sd_bus, "watch"}, {}, 4, SIGTERM}, "3\n4\n"},
      {"sdbus-c++ watches", {{sdbus_cpp, "watch"}, {}, 5, SIGINT}, "4\n5\n"},
  };
  rig_->start_serving();
  for (const auto& [what, client, output] : runs) {
    SCOPED_TRACE(what);
    const ClientEnd end = run(client, output);
    EXPECT_EQ(end.status, harness::ExitStatus::exited(0)) << end.error;
    EXPECT_EQ(end.output, output);
  }
}

// Every example checks its command line whole before it touches the bus: here there is none to
// touch, so an example that tried would say so instead.
TEST_F(Examples, RefuseWhatIsNoLevelBeforeAnyCall) {
  const std::vector<std::string> python = {"/usr/bin/python3", BLE_PYTHON_EXAMPLE};
  const std::vector<std::string> sd_bus = {BLE_SD_BUS_EXAMPLE};
  const std::vector<std::string> sdbus_cpp = {BLE_SDBUS_CPP_EXAMPLE};
  // What atoi, int() and std::stoi made of them: 0, 12, 1, a traceback, 12, an overflow, 2.
  const char* not_levels[] = {"abc", "12abc", "4294967297", "99999999999", " 12", "-2147483649", "+-2", ""};
  for (const auto& example : {python, sd_bus, sdbus_cpp}) {
    for (const char* level : not_levels) {
      SCOPED_TRACE(example.back() + " set \"" + level + "\"");
      ClientRun client{.command = example, .bus_address = "unix:path=/nonexistent/socket"};
      client.command.insert(client.command.end(), {"set", level});
      const ClientEnd end = run(client, "");
      EXPECT_EQ(end.status, harness::ExitStatus::exited(2));
      EXPECT_EQ(end.output, "");
      EXPECT_EQ(end.error,
                std::string("Error: LEVEL must be a whole decimal number, such as 25, not \"") + level + "\"\n");
    }
  }
  const ClientEnd proxy = run({.command = {BLE_GENERATED_PROXY_EXAMPLE, "get"}, .bus_address = "unix:path=/x"}, "");
  EXPECT_EQ(proxy.status, harness::ExitStatus::exited(2));
  EXPECT_TRUE(proxy.error.starts_with("Usage: ")) << proxy.error;
}

}  // namespace
}  // namespace clients
