#pragma once
// Tells when a controller has powered on, and so has been reset and forgotten its vendor
// settings. The kernel announces every power-on of every controller to raw HCI sockets bound to
// no controller (its stack-internal "device up" event), whoever powered it: the kernel itself
// when a controller appears, hciconfig, the management interface, recovery from an error. The
// emulated controller's power-on is announced with SIGUSR1.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "platform/fd/unique_fd.hpp"

namespace bridge {

class PowerWatch {
 public:
  static std::expected<PowerWatch, std::string> kernel();
  // Blocks SIGUSR1 for the whole process and receives it through a descriptor instead.
  static std::expected<PowerWatch, std::string> simulated();

  // Readable when something may have powered on.
  int fd() const noexcept { return fd_.get(); }

  // The controllers ("hciN") that powered on, read from what is waiting; nothing when it was
  // not a power-on. A simulated power-on is every controller's (nullopt). Does not block.
  std::expected<std::vector<std::optional<std::string>>, std::string> powered_on();

 private:
  PowerWatch(platform::UniqueFd fd, bool simulated) noexcept : fd_(std::move(fd)), simulated_(simulated) {}

  platform::UniqueFd fd_;
  bool simulated_;
};

// The controller that a raw socket's packet says has powered on: a stack-internal device event
// (type 0x0001) with event "up" (3).
std::optional<std::uint16_t> powered_on_index(const std::uint8_t* packet, std::size_t size) noexcept;

}  // namespace bridge
