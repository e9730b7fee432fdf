#pragma once
// The event as the tool prints it, read back into an event.
#include <expected>
#include <string>
#include <string_view>

#include "bridge/transport/hci_event.hpp"

namespace bridge {

// The event the tool printed: its "> HCI Event: 0xEE plen N" line and its byte lines, which
// must be the last lines of the output. Lines before it (the command's echo) are not read.
std::expected<HciEvent, std::string> read_printed_event(std::string_view printed);

}  // namespace bridge
