#include "bridge/memory/power_memory.hpp"

#include "bridge/concat.hpp"

namespace bridge {
namespace {

// "line 1 of F is not a transmit-power command", "lines 1, 3 of F are not ...".
std::string refused_lines(const std::vector<int>& numbers, const std::filesystem::path& file) {
  std::string text = numbers.size() == 1 ? "line " : "lines ";
  for (std::size_t i = 0; i < numbers.size(); ++i) text += concat(i == 0 ? "" : ", ", numbers[i]);
  return concat(text, " of ", file.string(),
                numbers.size() == 1 ? " is not a transmit-power command" : " are not transmit-power commands");
}

std::string what_is_restored(const StateFileContent& content, const std::filesystem::path& file) {
  if (content.powers.empty()) {
    const std::string why =
        content.refused_lines.empty() ? concat(file.string(), " is empty") : refused_lines(content.refused_lines, file);
    return "Nothing to restore at power-on: " + why;
  }
  std::string text = "Restores at power-on: ";
  bool first = true;
  for (const auto& [controller, command] : content.powers) {
    text += concat(first ? "" : "; ", command_line(command));
    first = false;
  }
  if (!content.refused_lines.empty())
    text += concat(" (not restored: ", refused_lines(content.refused_lines, file), ")");
  return text;
}

}  // namespace

PowerMemory::PowerMemory(std::optional<std::filesystem::path> file, Log log)
    : file_(std::move(file)), log_(std::move(log)) {
  if (!file_) {
    log_("No STATE_DIRECTORY: the last transmit power is kept in memory only");
    return;
  }
  auto text = read_state_file(*file_);
  if (!text) {
    log_(concat("Nothing to restore at power-on: ", text.error()));
    return;
  }
  if (!*text) {
    log_(concat("No transmit power remembered yet; ", file_->string(), " is written after the first accepted level"));
    return;
  }
  auto content = parse_state_file(**text);
  log_(what_is_restored(content, *file_));
  powers_ = std::move(content.powers);
}

void PowerMemory::remember(const TransmitPower& command) {
  const auto known = powers_.find(command.controller);
  const bool changed = known == powers_.end() || known->second != command;
  if (changed) powers_.insert_or_assign(command.controller, command);
  if (changed || write_failed_) write();
}

void PowerMemory::write_again_if_failed() {
  if (write_failed_) write();
}

void PowerMemory::write() {
  if (!file_) return;
  const auto written = write_state_file(*file_, state_file_text(powers_));
  if (written && write_failed_)
    log_(concat("The transmit power is kept across restarts again: ", file_->string(), " is written"));
  if (!written && !write_failed_) log_(concat("Cannot keep the transmit power across restarts: ", written.error()));
  write_failed_ = !written;
}

std::optional<TransmitPower> PowerMemory::last_for(std::string_view controller) const {
  const auto found = powers_.find(controller);
  if (found == powers_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::string> PowerMemory::controllers() const {
  std::vector<std::string> names;
  names.reserve(powers_.size());
  for (const auto& [controller, command] : powers_) names.push_back(controller);
  return names;
}

}  // namespace bridge
