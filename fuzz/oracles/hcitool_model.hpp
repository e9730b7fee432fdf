#pragma once
// The controller status as read from hcitool's output: last line, last token, 8-bit decimal.
#include <cstdint>
#include <optional>
#include <string_view>

namespace oracle {

// `output` must be well-formed UTF-8. Nothing when the output does not end in a status.
std::optional<std::int8_t> controller_status(std::string_view output);

}  // namespace oracle
