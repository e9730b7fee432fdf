#pragma once
// How vhci_controller reaches the kernel's Bluetooth stack, and the packets it reads from it:
//   - /dev/vhci, the virtual HCI driver, which hands over one whole packet per read;
//   - a UART: a pseudo-terminal whose other end carries the kernel's HCI UART line discipline
//     with the H4 protocol (hci_uart), as a controller on a serial line has it. Kernels without
//     hci_vhci (Debian's arm64 kernel) have that. The byte stream is cut into packets by their
//     H4 headers.
// Either way the kernel registers the controller when the link opens and unregisters it when
// the link closes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace controller {

using Bytes = std::vector<std::uint8_t>;

class Link {
 public:
  // Opens the link; on failure says why on standard error and returns nothing.
  static std::optional<Link> open_vhci();
  static std::optional<Link> open_uart();
  Link(Link&& other) noexcept;
  Link& operator=(Link&&) = delete;
  Link(const Link&) = delete;
  ~Link();

  // The descriptor to poll for packets and to write packets to.
  int fd() const noexcept { return fd_; }
  // The kernel's index of the controller once it is registered (a UART's is known at once; a
  // vhci controller's comes with the kernel's vendor packet, which read_packets takes).
  std::optional<unsigned> index() const noexcept { return index_; }

  // The whole packets that have arrived (none when a read was interrupted or had nothing);
  // nothing on a read error, which is said on standard error. Does not block once polled ready.
  std::optional<std::vector<Bytes>> read_packets();
  // Writes one packet whole; false (and why, on standard error) when it cannot.
  bool send(const Bytes& packet) const;

 private:
  Link(int fd, int uart_end, bool stream) : fd_(fd), uart_end_(uart_end), stream_(stream) {}

  int fd_;
  int uart_end_;  // the terminal end with the line discipline; -1 for vhci
  bool stream_;   // bytes that must be cut into packets
  Bytes pending_;
  std::optional<unsigned> index_;
};

}  // namespace controller
