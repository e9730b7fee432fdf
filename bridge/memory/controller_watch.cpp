#include "bridge/memory/controller_watch.hpp"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "bridge/concat.hpp"
#include "bridge/transmit_power.hpp"
#include "bridge/transport/hci_kernel.hpp"
#include "platform/fd/signal_fd.hpp"

namespace bridge {
namespace {

constexpr std::uint16_t device_event_type = 0x0001;  // HCI_EV_SI_DEVICE
constexpr std::uint16_t reset_opcode = 0x0c03;       // HCI_Reset

std::uint16_t little_endian(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }

std::unexpected<std::string> failed(std::string_view step) {
  return std::unexpected(concat(step, ": ", std::strerror(errno)));
}

platform::UniqueFd raw_socket() {
  return platform::UniqueFd(::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, hci::protocol_hci));
}

bool set_filter(int fd, const hci::Filter& filter) {
  return ::setsockopt(fd, hci::level_hci, hci::option_filter, &filter, sizeof filter) == 0;
}

bool bind_to(int fd, std::uint16_t device) {
  const hci::SocketAddress address{AF_BLUETOOTH, device, hci::channel_raw};
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// The controllers the kernel has.
std::expected<std::vector<std::uint16_t>, std::string> controllers_now(int fd) {
  struct {
    std::uint16_t count;
    hci::DeviceRequest devices[hci::most_devices];
  } list{};
  list.count = hci::most_devices;
  if (::ioctl(fd, hci::get_device_list, &list) != 0) return failed("HCIGETDEVLIST");
  std::vector<std::uint16_t> controllers;
  for (std::uint16_t i = 0; i < list.count && i < hci::most_devices; ++i) controllers.push_back(list.devices[i].id);
  return controllers;
}

}  // namespace

std::optional<DeviceEvent> device_event(const std::uint8_t* packet, std::size_t size) noexcept {
  // type, code 0xfd, length 6, then the internal event type, the device event and the index,
  // each 16 bits in the kernel's byte order (little-endian on every target here).
  if (size != 9 || packet[0] != hci::event_packet || packet[1] != hci::stack_internal || packet[2] != 6)
    return std::nullopt;
  const auto word = [&](std::size_t at) { return static_cast<std::uint16_t>(packet[at] | packet[at + 1] << 8); };
  const std::uint16_t event = word(5);
  if (word(3) != device_event_type || event < 1 || event > 4) return std::nullopt;
  return DeviceEvent{static_cast<DeviceEvent::Kind>(event), word(7)};
}

std::optional<ControllerEvent> traffic_event(const std::uint8_t* packet, std::size_t size, std::string controller) {
  using Kind = ControllerEvent::Kind;
  std::optional<ControllerEvent> seen;
  // A command: type, opcode, length, parameters.
  if (size >= 4 && packet[0] == hci::command_packet) seen = {Kind::kernel_sent, controller, little_endian(packet + 1)};
  // Command Complete: type, code, length, number of packets, opcode, return parameters.
  if (size >= 6 && packet[0] == hci::event_packet && packet[1] == hci::command_complete)
    seen = {Kind::kernel_answered, controller, little_endian(packet + 4)};
  // Command Status: type, code, length, status, number of packets, opcode.
  if (size >= 7 && packet[0] == hci::event_packet && packet[1] == hci::command_status)
    seen = {Kind::kernel_answered, controller, little_endian(packet + 5)};
  if (seen && seen->opcode == transmit_power_opcode) return std::nullopt;
  return seen;
}

std::expected<ControllerWatch, std::string> ControllerWatch::kernel() {
  platform::UniqueFd fd = raw_socket();
  if (!fd) return failed("socket");
  hci::Filter filter{};
  filter.type_mask = 1u << hci::event_packet;
  // The kernel matches an event by its code's low 6 bits.
  constexpr unsigned bit = hci::stack_internal & 63;
  filter.event_mask[bit >> 5] = 1u << (bit & 31);
  if (!set_filter(fd.get(), filter)) return failed("setsockopt");
  if (!bind_to(fd.get(), hci::no_device)) return failed("bind");
  // Listening first: a controller that comes after the count below is announced.
  auto now = controllers_now(fd.get());
  if (!now) return std::unexpected(now.error());
  ControllerWatch watch(std::move(fd), false);
  for (const std::uint16_t index : *now) watch.follow(index);
  return watch;
}

std::expected<ControllerWatch, std::string> ControllerWatch::simulated() {
  auto fd = platform::blocked_signals_fd({SIGUSR1}, SFD_NONBLOCK);
  if (!fd) return failed(fd.error());
  return ControllerWatch(std::move(*fd), true);
}

void ControllerWatch::follow(std::uint16_t index) {
  platform::UniqueFd fd = raw_socket();
  hci::Filter filter{};
  filter.type_mask = 1u << hci::command_packet | 1u << hci::event_packet;
  for (const std::uint8_t code : {hci::command_complete, hci::command_status})
    filter.event_mask[code >> 5] |= 1u << (code & 31);
  // A controller that is already gone again is announced as such; one whose traffic cannot be
  // watched still has its power-ons.
  if (fd && set_filter(fd.get(), filter) && bind_to(fd.get(), index)) traffic_.insert_or_assign(index, std::move(fd));
}

std::vector<int> ControllerWatch::fds() const {
  std::vector<int> fds{devices_.get()};
  for (const auto& [index, fd] : traffic_) fds.push_back(fd.get());
  return fds;
}

void ControllerWatch::read_traffic(std::vector<ControllerEvent>& events) {
  for (auto entry = traffic_.begin(); entry != traffic_.end();) {
    const std::string controller = concat("hci", entry->first);
    bool gone = false;
    for (;;) {
      std::uint8_t buffer[hci::largest_packet];
      const ssize_t n = ::read(entry->second.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      // The controller was unregistered (EPIPE): its announcement follows on the other socket.
      if (n <= 0) {
        gone = true;
        break;
      }
      auto seen = traffic_event(buffer, static_cast<std::size_t>(n), controller);
      if (!seen) continue;
      const bool reset = seen->kind == ControllerEvent::Kind::kernel_answered && seen->opcode == reset_opcode;
      events.push_back(std::move(*seen));
      if (reset) events.push_back({ControllerEvent::Kind::reset, controller});
    }
    entry = gone ? traffic_.erase(entry) : std::next(entry);
  }
}

ControllerWatch::Seen ControllerWatch::events() {
  Seen seen;
  std::vector<ControllerEvent>& events = seen.events;
  read_traffic(events);
  for (;;) {
    std::uint8_t buffer[sizeof(signalfd_siginfo) > 2 * hci::largest_event_packet ? sizeof(signalfd_siginfo)
                                                                                 : 2 * hci::largest_event_packet];
    const ssize_t n = ::read(devices_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return seen;
    // What was read before stays: a reset must not be lost with the failure.
    if (n < 0) {
      seen.error = concat("read: ", std::strerror(errno));
      return seen;
    }
    if (simulated_) {
      events.push_back({ControllerEvent::Kind::powered_on, std::nullopt});
      continue;
    }
    const auto event = device_event(buffer, static_cast<std::size_t>(n));
    if (!event) continue;
    std::string controller = concat("hci", event->index);
    switch (event->kind) {
      case DeviceEvent::Kind::registered: follow(event->index); break;
      case DeviceEvent::Kind::unregistered:
        traffic_.erase(event->index);
        events.push_back({ControllerEvent::Kind::powered_off, std::move(controller)});
        break;
      case DeviceEvent::Kind::up: events.push_back({ControllerEvent::Kind::powered_on, std::move(controller)}); break;
      case DeviceEvent::Kind::down:
        events.push_back({ControllerEvent::Kind::powered_off, std::move(controller)});
        break;
    }
  }
}

}  // namespace bridge
