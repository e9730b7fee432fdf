#include "bridge/memory/state_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/concat.hpp"
#include "platform/fd/unique_fd.hpp"

namespace bridge {
namespace {

std::string os_error(std::string_view step, const std::filesystem::path& path) {
  return concat(step, ' ', path.string(), ": ", std::strerror(errno));
}

std::expected<void, std::string> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(std::string(std::strerror(errno)));
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// O_EXCL refuses any name that exists, a symbolic link included. What holds the name is what a
// crashed write left, or was put there: it goes (unlinking a link leaves its target alone) and
// the name is tried once more.
platform::UniqueFd create_exclusively(const std::filesystem::path& path) {
  constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  platform::UniqueFd fd(::open(path.c_str(), flags, 0600));
  if (!fd && errno == EEXIST && ::unlink(path.c_str()) == 0) fd = platform::UniqueFd(::open(path.c_str(), flags, 0600));
  return fd;
}

}  // namespace

StateFileContent parse_state_file(std::string_view text) {
  StateFileContent content;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    // Four words with one blank between each, nothing before or after.
    std::vector<std::string_view> words;
    for (std::size_t start = 0;;) {
      const std::size_t blank = line.find(' ', start);
      words.push_back(line.substr(start, blank - start));
      if (blank == std::string_view::npos) break;
      start = blank + 1;
    }
    auto command = words.size() == 4 ? read_transmit_power(words[0], words[1], words[2], words[3])
                                     : std::unexpected(std::string());
    if (!command) {
      content.refused_lines.push_back(number);
      continue;
    }
    std::string controller = command->controller;
    content.powers.insert_or_assign(std::move(controller), std::move(*command));
  }
  return content;
}

std::string state_file_text(const PowerByController& powers) {
  std::string text;
  for (const auto& [controller, command] : powers) text += command_line(command) + '\n';
  return text;
}

std::expected<std::optional<std::string>, std::string> read_state_file(const std::filesystem::path& file) {
  // O_NONBLOCK: a FIFO put in its place cannot hang the start.
  const platform::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd && errno == ENOENT) return std::nullopt;
  if (!fd && errno == ELOOP)
    return std::unexpected(concat(file.string(), " is a symbolic link, which is not followed"));
  if (!fd) return std::unexpected(os_error("Cannot open", file));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(os_error("Cannot read", file));
  if (!S_ISREG(info.st_mode)) return std::unexpected(concat(file.string(), " is not a regular file"));
  std::string text;
  char buffer[1024];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::unexpected(os_error("Cannot read", file));
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > largest_state_file) return std::unexpected(concat(file.string(), " is too large"));
  }
}

std::expected<void, std::string> write_state_file(const std::filesystem::path& file, std::string_view text) {
  const std::filesystem::path next = file.string() + ".new";
  platform::UniqueFd fd = create_exclusively(next);
  if (!fd) return std::unexpected(os_error("Cannot create", next));
  const auto abandon = [&](std::string_view why) {
    ::unlink(next.c_str());
    return std::unexpected(concat("Cannot write ", next.string(), ": ", why));
  };
  if (auto written = write_all(fd.get(), text); !written) return abandon(written.error());
  if (::fsync(fd.get()) != 0 || fd.close() != 0) return abandon(std::strerror(errno));
  // rename replaces the name itself, a symbolic link included, never what a link points to.
  if (::rename(next.c_str(), file.c_str()) != 0) {
    const auto error = os_error("Cannot replace", file);
    ::unlink(next.c_str());
    return std::unexpected(error);
  }
  const platform::UniqueFd directory(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory) ::fsync(directory.get());
  return {};
}

std::optional<std::filesystem::path> state_file_path(const char* state_directory) {
  if (state_directory == nullptr || *state_directory == '\0') return std::nullopt;
  const std::string_view first(state_directory, std::strcspn(state_directory, ":"));
  if (first.empty()) return std::nullopt;
  return std::filesystem::path(first) / "transmit-power";
}

}  // namespace bridge
