// The controller watch's reader of the kernel's packets against the packet's layout written out
// byte by byte: only a stack-internal device event (registered, unregistered, up or down) of
// exactly nine bytes names a controller, and then the one its last two bytes (little-endian) give.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/memory/controller_watch.hpp"
#include "fuzz/oracles/mismatch.hpp"

namespace {

std::optional<bridge::DeviceEvent> model(const std::uint8_t* data, std::size_t size) {
  // Event packet, code 0xfd, 6 parameter bytes: type 0x0001 (device), event 1 to 4, index.
  constexpr std::uint8_t head[] = {0x04, 0xfd, 0x06, 0x01, 0x00};
  if (size != sizeof head + 4) return std::nullopt;
  for (std::size_t i = 0; i < sizeof head; ++i)
    if (data[i] != head[i]) return std::nullopt;
  if (data[6] != 0 || data[5] < 1 || data[5] > 4) return std::nullopt;
  return bridge::DeviceEvent{static_cast<bridge::DeviceEvent::Kind>(data[5]),
                             static_cast<std::uint16_t>(data[7] + 256 * data[8])};
}

std::string describe(std::optional<bridge::DeviceEvent> event) {
  if (!event) return "none";
  return "event " + std::to_string(static_cast<int>(event->kind)) + " of hci" + std::to_string(event->index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto ours = bridge::device_event(data, size);
  const auto expected = model(data, size);
  if (ours != expected)
    oracle::mismatch("device_event", std::string_view(reinterpret_cast<const char*>(data), size), describe(ours),
                     describe(expected));
  return 0;
}
