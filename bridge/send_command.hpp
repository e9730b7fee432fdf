#pragma once
// One command to the controller by the way the command line chose: our own raw HCI socket, the
// integrator's tool, or the emulated controller.
#include <expected>
#include <string>

#include "bridge/hci_command.hpp"
#include "bridge/hci_exchange.hpp"
#include "bridge/options.hpp"
#include "bridge/simulation.hpp"

namespace bridge {

// `control` steers the emulated controller when the bridge simulates one. BLOCKS for up to the
// answer time limit.
std::expected<HciAnswer, std::string> send_command(const BridgeOptions& options, const HciCommand& command,
                                                   const SimulationControl& control);

}  // namespace bridge
