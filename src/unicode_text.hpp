#pragma once
// Unicode facts the service needs on UTF-8 text: White_Space, trimming, full lower-casing.
#include <optional>
#include <string>
#include <string_view>

namespace ranged {

// The Unicode White_Space property (a short fixed list).
bool is_white_space(char32_t c) noexcept;

// `utf8` must be valid UTF-8.
std::string_view trim_white_space(std::string_view utf8) noexcept;
// The last maximal run of characters that are not White_Space, if any.
std::optional<std::string_view> last_token(std::string_view utf8) noexcept;
// Full Unicode lower-case mapping (final sigma by the usual rule).
std::string lower_case(std::string_view utf8);

}  // namespace ranged
