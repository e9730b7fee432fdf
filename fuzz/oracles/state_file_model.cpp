#include "fuzz/oracles/state_file_model.hpp"

#include "fuzz/oracles/bridge_model.hpp"

namespace oracle {
namespace {

void close_line(StateFileModel& model, int number, const std::vector<std::string>& words) {
  const auto line = transmit_power_line(words);
  if (!line) {
    model.refused.push_back(number);
    return;
  }
  model.lines[words[0]] = *line;
}

}  // namespace

StateFileModel read_state_file(std::string_view text) {
  StateFileModel model;
  std::vector<std::string> words(1);
  int number = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      close_line(model, number++, words);
      words.assign(1, "");
    } else if (c == ' ') {
      words.emplace_back();
    } else {
      words.back() += c;
    }
  }
  if (!text.empty() && text.back() != '\n') close_line(model, number, words);
  return model;
}

}  // namespace oracle
