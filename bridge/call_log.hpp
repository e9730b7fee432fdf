#pragma once
// A record of the commands the bridge carried out, one line each.
#include <expected>
#include <filesystem>
#include <string>

#include "bridge/hci_command.hpp"

namespace bridge {

// "hci0 0x3f 0x0087 0x5"
std::string call_log_line(const HciCommand& command);

// Appends the line and a line feed with one write, so concurrent readers never see half a line.
// BLOCKS on file I/O.
std::expected<void, std::string> append_call_log(const std::filesystem::path& file, const HciCommand& command);

}  // namespace bridge
