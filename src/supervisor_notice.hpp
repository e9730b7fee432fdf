#pragma once
// Tells the supervisor (systemd, whose ble-ranged.service is Type=notify) what state the service
// is in, the way sd_notify(3) does it: one datagram to the socket named by $NOTIFY_SOCKET. Started
// any other way there is no such variable, and nothing is sent.
#include <expected>
#include <string_view>

#include "src/error.hpp"

namespace src {

// "READY=1": the service is up (serving, or waiting for a switched-off radio); "STATUS=...": one
// line that `systemctl status` shows. Several lines may go in one notice.
std::expected<void, Error> notify_supervisor(std::string_view state);

// The same, with a failure written to standard error as one line: a notice that is lost only
// delays what systemd shows, so the service goes on.
void notify_supervisor_or_say_why(std::string_view state);

}  // namespace src
