#include "tests/clients/client_rig.hpp"

#include <memory>
#include <string>
#include <vector>

#include "tests/harness/sandbox.hpp"

namespace clients {

using namespace std::chrono_literals;

void ClientsOnTheBus::SetUp() {
  REQUIRE_ROOT(harness::sandbox_mounts);
  rig_.emplace(integration::RigOptions{
      .bus = {.permissive_policy = false, .extra_config = "<include>" BLE_BUS_CONFIG "</include>"}});
}

ClientEnd ClientsOnTheBus::run(const ClientRun& client, std::string_view expected_output) {
  std::vector<std::string> command = client.command;
  if (!client.redirection.empty())
    command.insert(command.begin(), {"/bin/sh", "-c", "exec \"$@\" " + client.redirection, "sh"});
  harness::ProcessOptions options{.arguments = std::vector(command.begin() + 1, command.end()),
                                  .account = client.account};
  std::unique_ptr<harness::Process> process;
  if (client.bus_address.empty()) {
    process = rig_->bus().start(command.front(), std::move(options));
  } else {
    options.environment.emplace_back("DBUS_SYSTEM_BUS_ADDRESS", client.bus_address);
    process = std::make_unique<harness::Process>(command.front(), std::move(options));
  }
  if (client.set_meanwhile) {
    const std::string_view first_line = expected_output.substr(0, expected_output.find('\n') + 1);
    if (process->wait_for_output(harness::Process::Stream::output, first_line)) {
      const auto set = rig_->client(BLE_CTL_PROGRAM, {"set", std::to_string(*client.set_meanwhile)});
      EXPECT_EQ(set.status, harness::ExitStatus::exited(0)) << set.standard_error;
    }
  }
  if (client.ending_signal != 0) {
    process->wait_for_output(harness::Process::Stream::output, expected_output);
    process->send_signal(client.ending_signal);
  }
  const auto status = process->wait_for_exit(15s);
  return {status, process->standard_output(), process->standard_error()};
}

}  // namespace clients
