#include "bridge/memory/power_memory.hpp"

#include <algorithm>
#include <chrono>

#include "bridge/concat.hpp"

namespace bridge {
namespace {

using namespace std::chrono_literals;

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

PowerByController read_remembered(const std::optional<std::filesystem::path>& file, const Log& log) {
  if (!file) {
    log("No STATE_DIRECTORY: the last transmit power is kept in memory only");
    return {};
  }
  auto text = read_state_file(*file);
  if (!text) {
    log(concat("Nothing to restore at power-on: ", text.error()));
    return {};
  }
  if (!*text) {
    log(concat("No transmit power remembered yet; ", file->string(), " is written after the first accepted level"));
    return {};
  }
  auto content = parse_state_file(**text);
  log(what_is_restored(content, *file));
  return std::move(content.powers);
}

PowerMemory::PowerMemory(PowerByController remembered, std::optional<std::filesystem::path> file,
                         std::unique_ptr<StateWriter> writer, Log log)
    : file_(std::move(file)),
      writer_(std::move(writer)),
      log_(std::move(log)),
      wanted_(std::move(remembered)),
      rewrite_(1s, 30s) {
  // Lines that were refused stay in the file until the next write; nothing is written only to
  // drop them.
  written_ = state_file_text(wanted_);
}

std::optional<TransmitPower> PowerMemory::wanted(std::string_view controller) const {
  const auto found = wanted_.find(controller);
  if (found == wanted_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::string> PowerMemory::controllers() const {
  std::vector<std::string> names;
  names.reserve(wanted_.size());
  for (const auto& [controller, command] : wanted_) names.push_back(controller);
  return names;
}

std::string PowerMemory::text() const {
  PowerByController powers = wanted_;
  for (const auto& [controller, pending] : pending_) powers.insert_or_assign(controller, pending.command);
  return state_file_text(powers);
}

const std::string& PowerMemory::newest() const { return asked_.empty() ? written_ : asked_.rbegin()->second; }

std::uint64_t PowerMemory::ask(std::string text) {
  const std::uint64_t number = writer_->write(text);
  asked_.insert_or_assign(number, std::move(text));
  return number;
}

PowerMemory::Proposal PowerMemory::propose(const TransmitPower& command) {
  const Ticket ticket = next_ticket_++;
  Pending& pending =
      pending_.insert_or_assign(command.controller, Pending{command, ticket, 0, std::nullopt}).first->second;
  std::string wanted_text = text();
  if (!writer_ || (asked_.empty() && wanted_text == written_)) {
    pending.outcome.emplace();
    return {ticket, true};
  }
  // A write asked for already may hold it; else one is asked for now, whatever failed before:
  // a caller waits for it.
  pending.write = wanted_text == newest() ? asked_.rbegin()->first : ask(std::move(wanted_text));
  return {ticket, false};
}

PowerMemory::Pending* PowerMemory::find(Ticket ticket) {
  const auto found = std::ranges::find_if(pending_, [&](const auto& entry) { return entry.second.ticket == ticket; });
  return found == pending_.end() ? nullptr : &found->second;
}

const PowerMemory::Pending* PowerMemory::find(Ticket ticket) const {
  return const_cast<PowerMemory*>(this)->find(ticket);
}

std::optional<std::expected<void, std::string>> PowerMemory::outcome(Ticket ticket) const {
  const Pending* pending = find(ticket);
  return pending == nullptr ? std::nullopt : pending->outcome;
}

void PowerMemory::commit(Ticket ticket) {
  if (const Pending* pending = find(ticket)) {
    const TransmitPower command = pending->command;
    pending_.erase(command.controller);
    wanted_.insert_or_assign(command.controller, command);
  }
}

void PowerMemory::withdraw(Ticket ticket) {
  // The file is written back on the next step.
  if (const Pending* pending = find(ticket)) pending_.erase(pending->command.controller);
}

void PowerMemory::take(const WriteEnd& end, TimePoint now) {
  for (auto& [controller, pending] : pending_)
    if (!pending.outcome && pending.write != 0 && pending.write <= end.number) pending.outcome = end.outcome;
  const auto text = asked_.find(end.number);
  if (end.outcome && text != asked_.end()) written_ = text->second;
  asked_.erase(asked_.begin(), asked_.upper_bound(end.number));
  if (end.outcome) {
    if (write_failed_)
      log_(concat("The transmit power is kept across restarts again: ", file_->string(), " is written"));
    write_failed_ = false;
    rewrite_.reset();
    return;
  }
  if (!write_failed_) log_(concat("Cannot keep the transmit power across restarts: ", end.outcome.error()));
  write_failed_ = true;
  rewrite_.failed(now);
}

void PowerMemory::step(TimePoint now) {
  if (!writer_) return;
  for (const WriteEnd& end : writer_->ended()) take(end, now);
  // A withdrawn proposal, or a failed write: the file is written again to what it should hold.
  if (rewrite_.due(now) && text() != newest()) ask(text());
}

int PowerMemory::fd() const { return writer_ ? writer_->fd() : -1; }

std::optional<TimePoint> PowerMemory::wake_time() const {
  if (!writer_ || text() == newest()) return std::nullopt;
  return rewrite_.next();
}

}  // namespace bridge
