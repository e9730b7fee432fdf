#pragma once
// A second, deliberately plain reading of UTF-8 and of the Unicode White_Space property, written
// apart from text/utf8 so that the two can be compared.
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace oracle {

struct CodePoint {
  char32_t value;
  std::size_t offset;  // of its first byte
  std::size_t length;  // in bytes
};

// Every code point with its position, or nothing when the bytes are not well-formed UTF-8
// (overlong forms, surrogates and values past U+10FFFF included).
std::optional<std::vector<CodePoint>> decode_utf8(std::string_view bytes);

bool is_white_space(char32_t c) noexcept;

}  // namespace oracle
