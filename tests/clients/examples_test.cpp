// The examples for app developers read, set and watch Range on the real service; each level
// one sets, the next one reads.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

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
  const ExampleRun runs[] = {
      {"Python reads", {{"/usr/bin/python3", python, "get"}}, "7\n"},
      {"Python sets", {{"/usr/bin/python3", python, "set", "25"}}, ""},
      {"sd-bus reads", {{sd_bus, "get"}}, "25\n"},
      {"sd-bus sets", {{sd_bus, "set", "12"}}, ""},
      {"the generated proxy reads", {{BLE_GENERATED_PROXY_EXAMPLE}}, "12\n"},
      {"Python watches", {{"/usr/bin/python3", python, "watch"}, {}, 3, SIGINT}, "12\n3\n"},
      {"sd-bus watches", {{sd_bus, "watch"}, {}, 4, SIGTERM}, "3\n4\n"},
  };
  rig_->start_serving();
  for (const auto& [what, client, output] : runs) {
    SCOPED_TRACE(what);
    const ClientEnd end = run(client, output);
    EXPECT_EQ(end.status, harness::ExitStatus::exited(0)) << end.error;
    EXPECT_EQ(end.output, output);
  }
}

}  // namespace
}  // namespace clients
