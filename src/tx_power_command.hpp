#pragma once
// Sets the LE transmit power of controller hci0 for a range level, through the privileged
// service that runs hcitool for us.
#include <cstdint>
#include <expected>
#include <string>

#include "src/error.hpp"

namespace ranged::tx_power_command {

// Opens a private system-bus connection of its own, asks the privileged service to run the
// vendor command, and closes the connection again on every path. On success one line has been
// written to standard output; on failure nothing. BLOCKS for the connection set-up and up to
// 5 s waiting for the reply.
std::expected<void, Error> run(std::int8_t level);

// The transmit power in dBm for a level, when it lies inside what the controller takes.
std::expected<std::int8_t, Error> power_for(std::int8_t level);
// The line printed once the controller took the power.
std::string success_line(std::int8_t level, std::int8_t power);
// The error for a non-zero controller status.
Error refused(std::int8_t status);

}  // namespace ranged::tx_power_command
