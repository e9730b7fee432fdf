#pragma once
// Sets the LE transmit power of controller hci0 for a range level, through the privileged
// service that runs hcitool for us: the call, its power argument, and the controller's status
// read back from what the tool printed.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "src/conf/range_service.hpp"
#include "src/error.hpp"

namespace src {
namespace tx_power_command {

// Opens a private system-bus connection of its own, asks the privileged service to run the
// vendor command, and closes the connection again on every path. On success one line has been
// written to standard output, and the bridge's unique name (the connection that answered) is
// handed back; on failure nothing is written. A call that ended without the bridge's answer
// (none in time, the bridge gone, our connection lost) fails with Error::unanswered: the bridge
// may have carried it out all the same. BLOCKS for the connection set-up and up to 5 s waiting
// for the reply.
std::expected<std::string, Error> run(std::int8_t level);

// The transmit power in dBm for a level, when it lies inside what the controller takes.
std::expected<std::int8_t, Error> power_for(std::int8_t level);
// The line printed once the controller took the power.
std::string success_line(std::int8_t level, std::int8_t power);
// The error for a non-zero controller status.
Error refused(std::int8_t status);

// "0x" and the power's two's-complement byte in lowercase hex without leading zeros:
// 5 gives "0x5", -20 gives "0xec", 0 gives "0x0".
std::string power_text(std::int8_t power);

// The last line of the output without its line end; "a\nb\n" gives "b", "a\n\n" gives "",
// and an empty output has no last line at all.
std::optional<std::string_view> last_line(std::string_view output) noexcept;

// The controller's status: the last token of the last line as a signed 8-bit decimal.
// Anything else is "Failed to parse hcitool output: " and the output, quoted by quoted_output.
// `output` must be valid UTF-8 (a D-Bus string always is).
std::expected<std::int8_t, Error> controller_status(std::string_view output);

// The bridge's reply, or its error's message, may be as large as a bus message; the error reply
// quoting it whole would pass the bus's message limit, and the daemon would drop the service. So
// a text longer than this is quoted by its first characters within it, then "... (N bytes in all)".
inline constexpr std::size_t longest_quoted_output = 4096;
std::string quoted_output(std::string_view output);

}  // namespace tx_power_command

// The radio of hci0 as the service reaches it: every level goes through tx_power_command::run.
class BridgeRadio final : public Radio {
 public:
  // BLOCKS up to 5 s on the bridge.
  std::expected<void, Error> apply(std::int8_t level) override;
  // The unique name of the bridge that took the last level applied; empty before the first.
  const std::string& applied_by() const noexcept { return applied_by_; }

 private:
  std::string applied_by_;
};

}  // namespace src
