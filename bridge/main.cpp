// hcitool-bridge: owns com.orbo.ZozovoZorOrevov and runs one hcitool command per call.
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/bridge_object.hpp"
#include "bridge/bus_name.hpp"
#include "bridge/options.hpp"
#include "dbus/bus_connection.hpp"
#include "tree/object_tree.hpp"

namespace {

int report(std::string_view message) {
  std::fprintf(stderr, "Error: %.*s\n", static_cast<int>(message.size()), message.data());
  return 1;
}

int serve(bridge::BridgeOptions options) {
  auto connection = bus::BusConnection::open_system_bus();
  if (!connection) return report(connection.error().text());
  if (auto owned = bridge::own_name(*connection, bus::BusName::from_constant(bridge::bridge_bus_name)); !owned)
    return report(owned.error());

  tree::attach(bridge::bridge_tree({std::move(options), connection->raw()}), *connection);
  for (;;) {
    // BLOCKS up to 1 s waiting for the next message, and for as long as a call takes to answer.
    if (auto step = connection->process_one(1000); !step) return report(step.error().text());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A caller that hangs up before its reply must not take the bridge with it.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto options = bridge::parse_options(args);
  if (!options) return report(options.error());
  if (options->help) {
    std::fputs(bridge::help_text().data(), stdout);
    return 0;
  }
  const int status = serve(std::move(*options));
  dbus_shutdown();
  return status;
}
