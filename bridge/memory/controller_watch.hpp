#pragma once
// Tells when a controller may have lost its transmit power, or can take none. The kernel
// announces to raw HCI sockets bound to no controller every controller that is registered or
// goes, and every power-on and power-off, whoever caused it (stack-internal device events). An
// HCI Reset, which every power-on starts with and which `hciconfig reset` or any other program
// may send at any time, makes a controller forget its vendor settings without a power-on: it is
// seen on a raw socket bound to the controller and filtered to the Reset's Command Complete.
// The emulated controller's power-on is announced with SIGUSR1.
#include <chrono>
#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/fd/unique_fd.hpp"

namespace bridge {

struct ControllerEvent {
  enum class Kind { powered_on, powered_off, reset };
  Kind kind;
  std::optional<std::string> controller;  // "hciN"; none: every controller (the emulated power-on)

  friend bool operator==(const ControllerEvent&, const ControllerEvent&) = default;
};

class ControllerWatch {
 public:
  // Watches every controller the kernel has now and every one registered later.
  static std::expected<ControllerWatch, std::string> kernel();
  // Blocks SIGUSR1 for the whole process and receives it through a descriptor instead.
  static std::expected<ControllerWatch, std::string> simulated();

  // Readable when something may have happened.
  std::vector<int> fds() const;
  // What happened, read from what is waiting: resets first, as each power-on's reset comes
  // before the power-on is announced. Does not block.
  std::expected<std::vector<ControllerEvent>, std::string> events();

 private:
  ControllerWatch(platform::UniqueFd devices, bool simulated) noexcept
      : devices_(std::move(devices)), simulated_(simulated) {}
  void follow(std::uint16_t index);
  void read_resets(std::vector<ControllerEvent>& events);

  platform::UniqueFd devices_;
  bool simulated_;
  std::map<std::uint16_t, platform::UniqueFd> resets_;  // by controller index
};

// A stack-internal device event of the kernel, as a raw socket bound to no controller gets it:
// type 0x0001 (device), then the event (registered 1, unregistered 2, up 3, down 4) and the
// controller's index.
struct DeviceEvent {
  enum class Kind : std::uint16_t { registered = 1, unregistered = 2, up = 3, down = 4 };
  Kind kind;
  std::uint16_t index;

  friend bool operator==(const DeviceEvent&, const DeviceEvent&) = default;
};
std::optional<DeviceEvent> device_event(const std::uint8_t* packet, std::size_t size) noexcept;

}  // namespace bridge
