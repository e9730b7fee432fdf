#include "tests/bluetooth/controller_link.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace controller {
namespace {

// The kernel's HCI UART line discipline and its requests (drivers/bluetooth/hci_uart.h, which
// is not a user-space header).
constexpr int hci_line_discipline = 15;  // N_HCI
constexpr int h4_protocol = 0;           // HCI_UART_H4
constexpr unsigned long set_protocol = _IOW('U', 200, int);
constexpr unsigned long get_device = _IOR('U', 202, int);

void say(const char* what) { std::fprintf(stderr, "vhci_controller: %s: %s\n", what, std::strerror(errno)); }

// The length of the H4 packet at the start of `bytes`, once its header is there; 1 for a type
// no packet has, so that the byte is skipped.
std::optional<std::size_t> packet_length(const Bytes& bytes) {
  if (bytes.empty()) return std::nullopt;
  std::size_t header = 0;
  switch (bytes[0]) {
    case 0x01: header = 3; break;  // command: opcode, parameter length
    case 0x02: header = 4; break;  // ACL data: handle, 16-bit length
    case 0x03: header = 3; break;  // SCO data: handle, 8-bit length
    case 0x04: header = 2; break;  // event: code, parameter length
    case 0x05: header = 4; break;  // ISO data: handle, 14-bit length
    default: return 1;
  }
  if (bytes.size() < 1 + header) return std::nullopt;
  std::size_t body = bytes[header];  // the last header byte, or the low byte of a 16-bit length
  if (bytes[0] == 0x02) body = bytes[3] | bytes[4] << 8;
  if (bytes[0] == 0x05) body = bytes[3] | (bytes[4] & 0x3f) << 8;
  return 1 + header + body;
}

}  // namespace

std::optional<Link> Link::open_vhci() {
  const int fd = ::open("/dev/vhci", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    say("/dev/vhci");
    return std::nullopt;
  }
  return Link(fd, -1, false);
}

std::optional<Link> Link::open_uart() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    say("pseudo-terminal");
    return std::nullopt;
  }
  Link link(master, ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC), true);
  if (link.uart_end_ < 0) {
    say("pseudo-terminal's other end");
    return std::nullopt;
  }
  // Bytes as they are, both ways.
  for (const int end : {master, link.uart_end_}) {
    termios raw{};
    if (::tcgetattr(end, &raw) == 0) {
      ::cfmakeraw(&raw);
      ::tcsetattr(end, TCSANOW, &raw);
    }
  }
  // Setting the protocol registers the controller at once; the kernel then answers with its index.
  if (::ioctl(link.uart_end_, TIOCSETD, &hci_line_discipline) != 0 ||
      ::ioctl(link.uart_end_, set_protocol, h4_protocol) != 0) {
    say("HCI UART line discipline");
    return std::nullopt;
  }
  const int index = ::ioctl(link.uart_end_, get_device);
  if (index < 0) {
    say("HCI UART controller");
    return std::nullopt;
  }
  link.index_ = static_cast<unsigned>(index);
  return link;
}

Link::Link(Link&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      uart_end_(std::exchange(other.uart_end_, -1)),
      stream_(other.stream_),
      pending_(std::move(other.pending_)),
      index_(other.index_) {}

Link::~Link() {
  // The terminal end first: the kernel unregisters the controller as its line discipline goes.
  if (uart_end_ >= 0) ::close(uart_end_);
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::vector<Bytes>> Link::read_packets() {
  std::uint8_t buffer[1024];
  const ssize_t length = ::read(fd_, buffer, sizeof buffer);
  if (length < 0) {
    if (errno == EINTR || errno == EAGAIN) return std::vector<Bytes>{};
    say("read");
    return std::nullopt;
  }
  if (!stream_) return std::vector<Bytes>{Bytes(buffer, buffer + length)};
  pending_.insert(pending_.end(), buffer, buffer + length);
  std::vector<Bytes> packets;
  for (auto whole = packet_length(pending_); whole && *whole <= pending_.size(); whole = packet_length(pending_)) {
    const auto end = pending_.begin() + static_cast<std::ptrdiff_t>(*whole);
    if (*whole > 1) packets.emplace_back(pending_.begin(), end);
    pending_.erase(pending_.begin(), end);
  }
  return packets;
}

bool Link::send(const Bytes& packet) const {
  if (::write(fd_, packet.data(), packet.size()) == static_cast<ssize_t>(packet.size())) return true;
  say("write");
  return false;
}

}  // namespace controller
