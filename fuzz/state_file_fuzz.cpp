// The state file's reader against its model, on any bytes: the same controllers with the same
// commands, the same lines refused; and what the bridge writes for them reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/memory/state_file.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "fuzz/oracles/state_file_model.hpp"

namespace {

std::string describe(const bridge::PowerByController& powers) {
  std::string text;
  for (const auto& [controller, command] : powers) text += bridge::command_line(command) + ';';
  return text;
}

std::string describe(const std::vector<int>& numbers) {
  std::string text;
  for (const int number : numbers) text += std::to_string(number) + ',';
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto ours = bridge::parse_state_file(text);
  const auto model = oracle::read_state_file(text);

  std::string expected;
  for (const auto& [controller, line] : model.lines) expected += line + ';';
  if (describe(ours.powers) != expected) oracle::mismatch("parse_state_file", text, describe(ours.powers), expected);
  if (ours.refused_lines != model.refused)
    oracle::mismatch("refused lines", text, describe(ours.refused_lines), describe(model.refused));

  const auto again = bridge::parse_state_file(bridge::state_file_text(ours.powers));
  if (describe(again.powers) != describe(ours.powers) || !again.refused_lines.empty())
    oracle::mismatch("state_file_text read back", text, describe(again.powers), describe(ours.powers));
  return 0;
}
