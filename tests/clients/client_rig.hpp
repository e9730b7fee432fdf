#pragma once
// The range service as its clients meet it on a device: the real service (level 7 stored), the
// simulated bridge and the shipped bus policy, and a client run against it to its end, or, for
// one that watches, until a signal ends it once it has shown a change.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness/process.hpp"
#include "tests/integration/service_rig.hpp"

namespace clients {

// setpriv's options for an account that is neither root nor an administrator.
inline const std::vector<std::string> ordinary_user = {"--reuid=nobody", "--regid=nogroup", "--clear-groups"};

struct ClientRun {
  std::vector<std::string> command;       // the program, then its arguments
  std::vector<std::string> account = {};  // setpriv's options; empty: root
  // A client that watches: once its first line is out, another client sets this level; once
  // all of the expected output is out, this signal ends it.
  std::optional<int> set_meanwhile = std::nullopt;
  int ending_signal = 0;
  std::string bus_address = {};  // empty: the rig's bus
  std::string redirection = {};  // the shell's, such as ">&-" or ">/dev/full"
};

struct ClientEnd {
  std::optional<harness::ExitStatus> status;  // nothing when it did not end in time
  std::string output;
  std::string error;
};

class ClientsOnTheBus : public testing::Test {
 protected:
  void SetUp() override;

  // Runs the client with bounded waits; `expected_output` tells a watching client's progress.
  ClientEnd run(const ClientRun& client, std::string_view expected_output);

  std::optional<integration::ServiceRig> rig_;
};

}  // namespace clients
