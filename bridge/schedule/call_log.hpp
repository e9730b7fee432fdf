#pragma once
// A record of the commands that calls had sent to a controller, one "hci0 0x3f 0x0087 0x5" line each.
#include <expected>
#include <filesystem>
#include <string>

#include "bridge/transmit_power.hpp"

namespace bridge {

// Appends the line and a line feed with one write, so concurrent readers never see half a line.
// BLOCKS on file I/O.
std::expected<void, std::string> append_call_log(const std::filesystem::path& file, const TransmitPower& command);

}  // namespace bridge
