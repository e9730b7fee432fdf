// The simulated controller's control file against its model, on any bytes: accepted exactly
// when the model accepts it, with every key's value the same, and refused naming the same line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/transport/control_file.hpp"
#include "fuzz/oracles/control_model.hpp"
#include "fuzz/oracles/mismatch.hpp"

namespace {

template <class Choice>
std::string_view name_of(Choice choice, std::initializer_list<std::string_view> names) {
  return *(names.begin() + static_cast<int>(choice));
}

// Both in one wording, so that they compare.
std::string describe(const bridge::SimulationControl& c) {
  std::string extra;
  for (const auto byte : c.extra) extra += std::to_string(byte) + ',';
  return std::to_string(c.status) + '|' + extra + '|' +
         std::string(name_of(c.answer, {"complete", "status", "pending", "none"})) + '|' +
         std::string(name_of(c.before, {"none", "packets", "advertising", "other"})) + '|' +
         std::to_string(c.delay.count()) + '|' +
         std::string(name_of(c.reply, {"output", "error", "empty", "uint32", "text"})) + '|' +
         (c.error_name ? "=" + *c.error_name : "-") + '|' + c.error_message + '|' + c.text;
}

std::string describe(const oracle::ControlModel& c) {
  std::string extra;
  for (const int byte : c.extra) extra += std::to_string(byte) + ',';
  return std::to_string(c.status) + '|' + extra + '|' + c.answer + '|' + c.before + '|' + std::to_string(c.delay_ms) +
         '|' + c.reply + '|' + (c.error_name ? "=" + *c.error_name : "-") + '|' + c.error_message + '|' + c.text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const auto ours = bridge::parse_control(content);
  const auto model = oracle::read_control(content);
  if (ours && model.control) {
    if (describe(*ours) != describe(*model.control))
      oracle::mismatch("parse_control", content, describe(*ours), describe(*model.control));
  } else if (!ours && !model.control) {
    const std::string line = "Control file line " + std::to_string(model.refused_line) + ": ";
    if (!ours.error().starts_with(line)) oracle::mismatch("refused line", content, ours.error(), line);
  } else {
    oracle::mismatch("parse_control outcome", content, ours ? describe(*ours) : ours.error(),
                     model.control ? describe(*model.control) : "refused");
  }
  return 0;
}
