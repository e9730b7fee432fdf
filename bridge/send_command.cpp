#include "bridge/send_command.hpp"

#include "bridge/hci_socket.hpp"
#include "bridge/hcitool.hpp"

namespace bridge {

std::expected<HciAnswer, std::string> send_command(const BridgeOptions& options, const HciCommand& command,
                                                   const SimulationControl& control) {
  if (options.simulate) {
    SimulatedController controller(control);
    return exchange(controller, command, answer_time_limit);
  }
  if (options.hcitool) return run_hcitool(*options.hcitool, command);
  auto socket = HciSocket::open(command);
  if (!socket) return std::unexpected(std::move(socket.error()));
  return exchange(*socket, command, answer_time_limit);
}

}  // namespace bridge
