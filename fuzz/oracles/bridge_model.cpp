#include "fuzz/oracles/bridge_model.hpp"

#include <algorithm>
#include <string_view>

namespace oracle {
namespace {

bool has_form(std::string_view text, std::string_view prefix, std::string_view alphabet, std::size_t longest) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  const std::string_view rest = text.substr(prefix.size());
  return !rest.empty() && rest.size() <= longest &&
         std::all_of(rest.begin(), rest.end(), [&](char c) { return alphabet.find(c) != std::string_view::npos; });
}

constexpr std::string_view decimal = "0123456789";
constexpr std::string_view hexadecimal = "0123456789abcdefABCDEF";

}  // namespace

bool strict_bridge_arguments(const std::vector<std::string>& four) {
  return four.size() == 4 && has_form(four[0], "hci", decimal, 3) && has_form(four[1], "0x", hexadecimal, 4) &&
         has_form(four[2], "0x", hexadecimal, 4) && has_form(four[3], "0x", hexadecimal, 2);
}

}  // namespace oracle
