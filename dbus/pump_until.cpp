#include "dbus/pump_until.hpp"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace dbus {
namespace {

enum class Ready { bus, stop };

// BLOCKS until the connection or `stop` has something. A closed connection has no descriptor
// left to wait on: the pump step that follows reports it.
std::expected<Ready, BusError> wait(const BusConnection& connection, int stop) {
  for (;;) {
    const int bus = connection.unix_fd();
    if (bus < 0) return Ready::bus;
    const auto bus_events = static_cast<short>(POLLIN | (connection.has_messages_to_send() ? POLLOUT : 0));
    pollfd ready[2] = {{stop, POLLIN, 0}, {bus, bus_events, 0}};
    if (::poll(ready, 2, -1) >= 0) return ready[0].revents != 0 ? Ready::stop : Ready::bus;
    if (errno != EINTR) return std::unexpected(BusError::failed(std::string("poll: ") + std::strerror(errno)));
  }
}

}  // namespace

std::expected<void, BusError> pump_until_readable(BusConnection& connection, int stop,
                                                  const std::function<bool()>& go_on) {
  while (go_on()) {
    // A message already queued is served without waiting: the socket may have nothing more.
    if (!connection.has_queued_messages()) {
      auto ready = wait(connection, stop);  // BLOCKS
      if (!ready) return std::unexpected(std::move(ready.error()));
      if (*ready == Ready::stop) return {};
    }
    if (auto step = connection.process_one(std::chrono::milliseconds(0)); !step) return step;
  }
  return {};
}

}  // namespace dbus
