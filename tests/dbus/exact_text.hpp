#pragma once
// Death tests match standard error with a regular expression; this turns a text into one that
// matches exactly that text and a line feed, nothing more.
#include <string>
#include <string_view>

inline std::string exactly(std::string_view text) {
  std::string pattern = "^";
  for (char c : text) {
    if (std::string_view(".[]{}()\\*+?|^$").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "\n$";
}
