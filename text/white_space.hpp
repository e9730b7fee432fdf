#pragma once
// The Unicode White_Space property on UTF-8 text: what a configuration line and a printed status
// are trimmed and split at.
#include <optional>
#include <string_view>

namespace text {

// The Unicode White_Space property (a short fixed list).
bool is_white_space(char32_t c) noexcept;

// `utf8` must be valid UTF-8.
std::string_view trim_white_space(std::string_view utf8) noexcept;
// The last maximal run of characters that are not White_Space, if any.
std::optional<std::string_view> last_token(std::string_view utf8) noexcept;

}  // namespace text
