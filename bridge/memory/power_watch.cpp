#include "bridge/memory/power_watch.hpp"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/concat.hpp"
#include "bridge/transport/hci_kernel.hpp"
#include "platform/fd/signal_fd.hpp"

namespace bridge {
namespace {

constexpr std::uint16_t device_event = 0x0001;  // HCI_EV_SI_DEVICE
constexpr std::uint16_t device_up = 3;          // HCI_DEV_UP

std::unexpected<std::string> failed(std::string_view step) {
  return std::unexpected(concat(step, ": ", std::strerror(errno)));
}

}  // namespace

std::optional<std::uint16_t> powered_on_index(const std::uint8_t* packet, std::size_t size) noexcept {
  // type, code 0xfd, length 6, then the internal event type, the device event and the index,
  // each 16 bits in the kernel's byte order (little-endian on every target here).
  if (size != 9 || packet[0] != hci::event_packet || packet[1] != hci::stack_internal || packet[2] != 6)
    return std::nullopt;
  const auto word = [&](std::size_t at) { return static_cast<std::uint16_t>(packet[at] | packet[at + 1] << 8); };
  if (word(3) != device_event || word(5) != device_up) return std::nullopt;
  return word(7);
}

std::expected<PowerWatch, std::string> PowerWatch::kernel() {
  platform::UniqueFd fd(::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, hci::protocol_hci));
  if (!fd) return failed("socket");
  hci::Filter filter{};
  filter.type_mask = 1u << hci::event_packet;
  // The kernel matches an event by its code's low 6 bits.
  constexpr unsigned bit = hci::stack_internal & 63;
  filter.event_mask[bit >> 5] = 1u << (bit & 31);
  if (::setsockopt(fd.get(), hci::level_hci, hci::option_filter, &filter, sizeof filter) != 0)
    return failed("setsockopt");
  const hci::SocketAddress nowhere{AF_BLUETOOTH, hci::no_device, hci::channel_raw};
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&nowhere), sizeof nowhere) != 0) return failed("bind");
  return PowerWatch(std::move(fd), false);
}

std::expected<PowerWatch, std::string> PowerWatch::simulated() {
  auto fd = platform::blocked_signals_fd({SIGUSR1}, SFD_NONBLOCK);
  if (!fd) return failed(fd.error());
  return PowerWatch(std::move(*fd), true);
}

std::expected<std::vector<std::optional<std::string>>, std::string> PowerWatch::powered_on() {
  std::vector<std::optional<std::string>> controllers;
  for (;;) {
    std::uint8_t buffer[sizeof(signalfd_siginfo) > 2 * hci::largest_event_packet ? sizeof(signalfd_siginfo)
                                                                                 : 2 * hci::largest_event_packet];
    const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return controllers;
    if (n < 0) return failed("read");
    if (simulated_) {
      controllers.emplace_back(std::nullopt);
    } else if (const auto index = powered_on_index(buffer, static_cast<std::size_t>(n))) {
      controllers.emplace_back(concat("hci", *index));
    }
  }
}

}  // namespace bridge
