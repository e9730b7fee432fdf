#include "bridge/power_memory.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bridge/call_log.hpp"
#include "bridge/concat.hpp"
#include "platform/fd/unique_fd.hpp"

namespace bridge {
namespace {

void log_line(std::string_view text) { std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data()); }

std::string os_error(std::string_view step, const std::filesystem::path& path) {
  return concat(step, ' ', path.string(), ": ", std::strerror(errno));
}

std::expected<std::string, std::string> read_whole(const std::filesystem::path& path) {
  const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return std::unexpected(os_error("Cannot open", path));
  std::string text;
  char buffer[1024];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(os_error("Cannot read", path));
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > 64 * 1024) return std::unexpected(concat(path.string(), " is too large"));
  }
}

// A new file beside the old one, synced, then renamed over it: a crash leaves one or the other.
std::expected<void, std::string> write_atomically(const std::filesystem::path& path, std::string_view text) {
  const std::filesystem::path next = path.string() + ".new";
  {
    platform::UniqueFd fd(::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) return std::unexpected(os_error("Cannot create", next));
    if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) || ::fsync(fd.get()) != 0 ||
        fd.close() != 0) {
      const auto error = os_error("Cannot write", next);
      ::unlink(next.c_str());
      return std::unexpected(error);
    }
  }
  if (::rename(next.c_str(), path.c_str()) != 0) {
    const auto error = os_error("Cannot replace", path);
    ::unlink(next.c_str());
    return std::unexpected(error);
  }
  const platform::UniqueFd directory(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory) ::fsync(directory.get());
  return {};
}

}  // namespace

std::expected<std::map<std::string, HciCommand, std::less<>>, std::string> parse_power_memory(std::string_view text) {
  std::map<std::string, HciCommand, std::less<>> commands;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    std::string_view words[4];
    for (auto& word : words) {
      const std::size_t blank = std::min(line.find(' '), line.size());
      word = line.substr(0, blank);
      line.remove_prefix(std::min(blank + 1, line.size()));
    }
    auto command = validate_command(words[0], words[1], words[2], words[3]);
    if (!command || !line.empty()) return std::unexpected(concat("line ", number, " is not a command"));
    commands.insert_or_assign(command->controller, std::move(*command));
  }
  return commands;
}

std::optional<std::filesystem::path> power_memory_file(const char* state_directory) {
  if (state_directory == nullptr || *state_directory == '\0') return std::nullopt;
  const std::string_view first(state_directory, std::strcspn(state_directory, ":"));
  if (first.empty()) return std::nullopt;
  return std::filesystem::path(first) / "transmit-power";
}

PowerMemory::PowerMemory(std::optional<std::filesystem::path> file) : file_(std::move(file)) {
  if (!file_) {
    log_line("No STATE_DIRECTORY: the last transmit power is kept in memory only");
    return;
  }
  std::error_code missing;
  if (!std::filesystem::exists(*file_, missing) && !missing) {
    log_line(concat("Nothing to restore at power-on yet: no ", file_->string()));
    return;
  }
  auto text = read_whole(*file_);
  if (!text) {
    log_line(concat("Nothing to restore at power-on: ", text.error()));
    return;
  }
  auto commands = parse_power_memory(*text);
  if (!commands) {
    log_line(concat("Nothing to restore at power-on: ", file_->string(), " is corrupt (", commands.error(), ")"));
    return;
  }
  commands_ = std::move(*commands);
  for (const auto& [controller, command] : commands_)
    log_line(concat("Restores at power-on: ", call_log_line(command)));
}

void PowerMemory::remember(const HciCommand& command) {
  const auto known = commands_.find(command.controller);
  if (known != commands_.end() && call_log_line(known->second) == call_log_line(command)) return;
  commands_.insert_or_assign(command.controller, command);
  if (!file_) return;
  std::string text;
  for (const auto& [controller, remembered] : commands_) text += call_log_line(remembered) + '\n';
  if (auto written = write_atomically(*file_, text); !written)
    log_line(concat("Cannot keep the transmit power across restarts: ", written.error()));
}

std::vector<HciCommand> PowerMemory::all() const {
  std::vector<HciCommand> commands;
  commands.reserve(commands_.size());
  for (const auto& [controller, command] : commands_) commands.push_back(command);
  return commands;
}

const HciCommand* PowerMemory::last_for(std::string_view controller) const {
  const auto found = commands_.find(controller);
  return found == commands_.end() ? nullptr : &found->second;
}

}  // namespace bridge
