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

  // The controllers that were up when the watch began (none known for the emulated ones).
  const std::vector<std::string>& up_at_start() const noexcept { return up_at_start_; }

  // Readable when something may have happened; and a time to look again, when one is due.
  std::vector<int> fds() const;
  std::optional<std::chrono::steady_clock::time_point> wake_time() const noexcept { return look_again_; }
  // What happened, read from what is waiting: resets first, as each power-on's reset comes
  // before the power-on is announced. Does not block.
  std::expected<std::vector<ControllerEvent>, std::string> events(std::chrono::steady_clock::time_point now);

 private:
  ControllerWatch(platform::UniqueFd devices, bool simulated) noexcept
      : devices_(std::move(devices)), simulated_(simulated) {}
  void follow(std::uint16_t index);
  void read_resets(std::vector<ControllerEvent>& events);
  void look_again(std::vector<ControllerEvent>& events);

  platform::UniqueFd devices_;
  bool simulated_;
  std::map<std::uint16_t, platform::UniqueFd> resets_;  // by controller index
  std::vector<std::string> up_at_start_;
  // A controller the kernel powered on for its set-up counts as down until it is switched off
  // again 2 s later, unless something powers it meanwhile, which announces nothing. Those not up
  // at the start are looked at once more when that time is over.
  std::vector<std::uint16_t> not_up_at_start_;
  std::optional<std::chrono::steady_clock::time_point> look_again_;
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
