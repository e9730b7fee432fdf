#pragma once
// Tells when a controller may have lost its transmit power, or can take none, and what the
// kernel has sent it. The kernel announces to raw HCI sockets bound to no controller every
// controller that is registered or goes, and every power-on and power-off, whoever caused it
// (stack-internal device events). A raw socket bound to a controller sees the commands the kernel
// sends it (a power-on's set-up, the management channel's settings, other programs' commands
// through the kernel's queue) and the controller's Command Complete and Command Status events:
// an HCI Reset, which every power-on starts with and which `hciconfig reset` or any other program
// may send at any time, makes a controller forget its vendor settings without a power-on.
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
  // kernel_sent, kernel_answered: a command other than the transmit-power command, and its answer
  // (a Command Complete or Command Status); a reset comes after its answer.
  enum class Kind { powered_on, powered_off, reset, kernel_sent, kernel_answered };
  Kind kind;
  std::optional<std::string> controller;  // "hciN"; none: every controller (the emulated power-on)
  std::uint16_t opcode = 0;               // kernel_sent, kernel_answered

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
  // What happened, read from what is waiting: each controller's commands and answers first, in
  // their order, as each power-on's set-up comes before the power-on is announced; and why
  // reading stopped early, if it did. Does not block.
  struct Seen {
    std::vector<ControllerEvent> events;
    std::optional<std::string> error;
  };
  Seen events();

 private:
  ControllerWatch(platform::UniqueFd devices, bool simulated) noexcept
      : devices_(std::move(devices)), simulated_(simulated) {}
  void follow(std::uint16_t index);
  void read_traffic(std::vector<ControllerEvent>& events);

  platform::UniqueFd devices_;
  bool simulated_;
  std::map<std::uint16_t, platform::UniqueFd> traffic_;  // by controller index
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

// What a packet on a controller's raw socket says: a command on its way, or an answer to one
// (its opcode); nothing for anything else or the transmit-power command's own.
std::optional<ControllerEvent> traffic_event(const std::uint8_t* packet, std::size_t size, std::string controller);

}  // namespace bridge
