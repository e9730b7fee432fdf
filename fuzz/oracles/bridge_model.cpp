#include "fuzz/oracles/bridge_model.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// The digits after "0x", which has_form has checked.
unsigned long value_of(const std::string& text) { return std::strtoul(text.c_str() + 2, nullptr, 16); }

}  // namespace

std::optional<std::string> transmit_power_line(const std::vector<std::string>& four) {
  if (four.size() != 4) return std::nullopt;
  const std::string& controller = four[0];
  if (!has_form(controller, "hci", decimal, 3) || (controller.size() > 4 && controller[3] == '0')) return std::nullopt;
  if (!has_form(four[1], "0x", hexadecimal, 4) || value_of(four[1]) != 0x3f) return std::nullopt;
  if (!has_form(four[2], "0x", hexadecimal, 4) || value_of(four[2]) != 0x87) return std::nullopt;
  if (!has_form(four[3], "0x", hexadecimal, 2)) return std::nullopt;
  const unsigned long byte = value_of(four[3]);
  const long power = byte >= 0x80 ? static_cast<long>(byte) - 256 : static_cast<long>(byte);
  if (power < -30 || power > 20) return std::nullopt;
  char parameter[8];
  std::snprintf(parameter, sizeof parameter, "0x%lx", byte);
  return controller + " 0x3f 0x0087 " + parameter;
}

}  // namespace oracle
