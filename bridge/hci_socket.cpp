#include "bridge/hci_socket.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "bridge/concat.hpp"
#include "bridge/hci_event.hpp"
#include "bridge/hci_kernel.hpp"

namespace bridge {
namespace {

// "hci" and its digits were checked when the command was read.
std::uint16_t device_index(std::string_view controller) noexcept {
  unsigned index = 0;
  const std::string_view digits = controller.substr(3);
  std::from_chars(digits.data(), digits.data() + digits.size(), index);
  return static_cast<std::uint16_t>(index);
}

hci::Filter answers_to(std::uint16_t opcode) noexcept {
  hci::Filter filter{};
  filter.type_mask = 1u << hci::event_packet;
  for (const std::uint8_t code : {hci::command_complete, hci::command_status})
    filter.event_mask[code >> 5] |= 1u << (code & 31);
  filter.opcode = opcode;  // the kernel compares it as little-endian, as every target here is
  return filter;
}

}  // namespace

std::string HciSocket::failed(std::string_view step, int error) const {
  std::string text = concat(controller_, ": ", step, ": ", std::strerror(error));
  if (step == "write" && error == EPERM) text += " (sending vendor commands needs CAP_NET_RAW)";
  return text;
}

std::expected<HciSocket, std::string> HciSocket::open(const HciCommand& command) {
  platform::UniqueFd fd(::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, hci::protocol_hci));
  HciSocket socket(std::move(fd), command.controller);
  if (!socket.fd_) return std::unexpected(socket.failed("socket", errno));
  // The filter comes before the bind, so no other traffic is ever queued on the socket.
  const hci::Filter filter = answers_to(opcode_of(command));
  if (::setsockopt(socket.fd_.get(), hci::level_hci, hci::option_filter, &filter, sizeof filter) != 0)
    return std::unexpected(socket.failed("setsockopt", errno));
  const hci::SocketAddress address{AF_BLUETOOTH, device_index(command.controller), hci::channel_raw};
  if (::bind(socket.fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return std::unexpected(socket.failed("bind", errno));
  return socket;
}

std::expected<void, std::string> HciSocket::send(std::span<const std::uint8_t> packet) {
  ssize_t written;
  do {
    written = ::write(fd_.get(), packet.data(), packet.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) return std::unexpected(failed("write", errno));
  // One write is one packet: the kernel takes it whole or not at all.
  if (static_cast<std::size_t>(written) != packet.size()) return std::unexpected(failed("write", EIO));
  return {};
}

std::expected<std::optional<std::vector<std::uint8_t>>, std::string> HciSocket::receive(Deadline deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd ready{fd_.get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled < 0) return std::unexpected(failed("poll", errno));
    if (polled == 0) continue;  // the loop's deadline check ends the wait

    std::uint8_t buffer[2 * hci::largest_event_packet];
    const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return std::unexpected(failed("read", errno));
    return std::vector<std::uint8_t>(buffer, buffer + n);
  }
}

}  // namespace bridge
