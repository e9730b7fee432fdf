#include "text/white_space.hpp"

#include <cstddef>

#include "text/utf8.hpp"

namespace text {

bool is_white_space(char32_t c) noexcept {
  return (c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x0085 || c == 0x00A0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view utf8) noexcept {
  std::optional<std::size_t> begin;
  std::size_t end = utf8.size();
  for (std::size_t at = 0; at < utf8.size();) {
    const Sequence sequence = read_sequence(utf8, at);
    at += sequence.length;
    if (is_white_space(sequence.code_point)) continue;
    if (!begin) begin = at - sequence.length;
    end = at;
  }
  if (!begin) return utf8.substr(utf8.size());
  return utf8.substr(*begin, end - *begin);
}

std::optional<std::string_view> last_token(std::string_view utf8) noexcept {
  std::optional<std::size_t> begin;
  std::size_t end = 0;
  bool inside = false;
  for (std::size_t at = 0; at < utf8.size();) {
    const Sequence sequence = read_sequence(utf8, at);
    const bool white = is_white_space(sequence.code_point);
    if (!white && !inside) begin = at;
    inside = !white;
    at += sequence.length;
    if (inside) end = at;
  }
  if (!begin) return std::nullopt;
  return utf8.substr(*begin, end - *begin);
}

}  // namespace text
