#pragma once
// The power argument we hand to hcitool, and the controller status read back from what it printed.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "src/error.hpp"

namespace ranged {

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

// The bridge's reply may be as large as a bus message; the error reply quoting it whole would
// pass the bus's message limit, and the daemon would drop the service. So an output longer than
// this is quoted by its first characters within it, then "... (N bytes in all)".
inline constexpr std::size_t longest_quoted_output = 4096;
std::string quoted_output(std::string_view output);

}  // namespace ranged
