#include "fuzz/oracles/hcitool_model.hpp"

#include <string>
#include <vector>

#include "fuzz/oracles/int8_model.hpp"
#include "fuzz/oracles/utf8_model.hpp"

namespace oracle {
namespace {

// Lines as a reader of the tool's output sees them: each line feed ends a line, a carriage
// return just before it goes with it, and text after the last line feed is one more line.
std::vector<std::string_view> lines_of(std::string_view output) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (output[i] != '\n') continue;
    std::size_t end = i;
    if (end > start && output[end - 1] == '\r') --end;
    lines.push_back(output.substr(start, end - start));
    start = i + 1;
  }
  if (start < output.size()) lines.push_back(output.substr(start));
  return lines;
}

std::optional<std::string_view> last_token_of(std::string_view line) {
  const auto points = decode_utf8(line).value();
  std::optional<std::size_t> end;
  for (auto p = points.rbegin(); p != points.rend(); ++p) {
    if (!end) {
      if (!is_white_space(p->value)) end = p->offset + p->length;
      continue;
    }
    if (is_white_space(p->value)) return line.substr(p->offset + p->length, *end - (p->offset + p->length));
  }
  if (!end) return std::nullopt;
  return line.substr(0, *end);
}

}  // namespace

std::optional<std::int8_t> controller_status(std::string_view output) {
  const auto lines = lines_of(output);
  if (lines.empty()) return std::nullopt;
  const auto token = last_token_of(lines.back());
  if (!token) return std::nullopt;
  const auto status = parse_int8(*token);
  if (!status) return std::nullopt;
  return *status;
}

}  // namespace oracle
