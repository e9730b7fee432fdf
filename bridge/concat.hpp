#pragma once
// Building message texts from pieces (this toolchain has no <format>).
#include <concepts>
#include <string>
#include <string_view>

namespace bridge {

namespace detail {
inline void append_piece(std::string& out, std::string_view piece) { out += piece; }
inline void append_piece(std::string& out, char piece) { out += piece; }
template <std::integral Int>
requires(!std::same_as<Int, char> && !std::same_as<Int, bool>) void append_piece(std::string& out, Int piece) {
  out += std::to_string(piece);
}
}  // namespace detail

template <class... Pieces>
std::string concat(const Pieces&... pieces) {
  std::string out;
  (detail::append_piece(out, pieces), ...);
  return out;
}

}  // namespace bridge
