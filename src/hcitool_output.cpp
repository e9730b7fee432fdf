#include "src/hcitool_output.hpp"

#include "text/parse_int.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace ranged {

std::string power_text(std::int8_t power) {
  static constexpr char digits[] = "0123456789abcdef";
  const auto byte = static_cast<std::uint8_t>(power);
  std::string text = "0x";
  if (byte >= 0x10) text += digits[byte >> 4];
  text += digits[byte & 0xf];
  return text;
}

std::optional<std::string_view> last_line(std::string_view output) noexcept {
  if (output.empty()) return std::nullopt;
  bool terminated = false;
  if (output.back() == '\n') {
    // One line feed at the very end closes the last line instead of opening an empty one.
    output.remove_suffix(1);
    terminated = true;
  }
  const auto break_at = output.rfind('\n');
  std::string_view line = break_at == std::string_view::npos ? output : output.substr(break_at + 1);
  if (terminated && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string quoted_output(std::string_view output) {
  if (output.size() <= longest_quoted_output) return std::string(output);
  return std::string(text::leading_characters(output, longest_quoted_output)) + "... (" +
         std::to_string(output.size()) + " bytes in all)";
}

std::expected<std::int8_t, Error> controller_status(std::string_view output) {
  const auto unparsable = [output] {
    return std::unexpected(Error("Failed to parse hcitool output: " + quoted_output(output)));
  };
  const auto line = last_line(output);
  if (!line) return unparsable();
  const auto token = text::last_token(*line);
  if (!token) return unparsable();
  const auto status = text::parse_i8(*token);
  if (!status) return unparsable();
  return *status;
}

}  // namespace ranged
