// The power-on watch's reader of the kernel's packets against the packet's layout written out
// byte by byte: only a stack-internal "device up" event of exactly nine bytes names a
// controller, and then the one its last two bytes (little-endian) give.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/memory/power_watch.hpp"
#include "fuzz/oracles/mismatch.hpp"

namespace {

std::optional<std::uint16_t> model(const std::uint8_t* data, std::size_t size) {
  // Event packet, code 0xfd, 6 parameter bytes: type 0x0001 (device), event 0x0003 (up), index.
  constexpr std::uint8_t head[] = {0x04, 0xfd, 0x06, 0x01, 0x00, 0x03, 0x00};
  if (size != sizeof head + 2) return std::nullopt;
  for (std::size_t i = 0; i < sizeof head; ++i)
    if (data[i] != head[i]) return std::nullopt;
  return static_cast<std::uint16_t>(data[7] + 256 * data[8]);
}

std::string describe(std::optional<std::uint16_t> index) { return index ? "hci" + std::to_string(*index) : "none"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto ours = bridge::powered_on_index(data, size);
  const auto expected = model(data, size);
  if (ours != expected)
    oracle::mismatch("powered_on_index", std::string_view(reinterpret_cast<const char*>(data), size), describe(ours),
                     describe(expected));
  return 0;
}
