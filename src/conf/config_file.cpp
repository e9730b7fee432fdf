// The configuration file in both directions: read whole into a ConfigMap, and rewritten whole
// with the one setting through libcfgkit.
#include "src/conf/config_file.hpp"

#include <cfgkit.h>
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/fd/unique_fd.hpp"
#include "text/lower_case.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace src::config_file {
namespace {

// The operating system's words for an errno value, as our messages quote them:
// "No such file or directory (os error 2)".
std::string os_error_text(int error_number) {
  std::array<char, 256> buffer{};
  // The GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error_number, buffer.data(), buffer.size());
  return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

// Far above any file we write (one section, one key), low enough that a device file or a
// runaway file in its place cannot exhaust memory at start-up.
constexpr std::size_t largest_config_file = 64 * 1024;

// BLOCKS on the file system. The errno value of the first failed read, or EFBIG once the file
// holds more than largest_config_file bytes.
std::expected<std::string, int> read_all(int fd) {
  std::string bytes;
  std::array<char, 4096> chunk;
  while (true) {
    ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (got == 0) return bytes;
    bytes.append(chunk.data(), static_cast<std::size_t>(got));
    if (bytes.size() > largest_config_file) return std::unexpected(EFBIG);
  }
}

std::string line_error(std::size_t line, std::size_t offset, std::string_view what) {
  return "line " + std::to_string(line) + ":" + std::to_string(offset) + ": " + std::string(what);
}

std::string_view without_comment(std::string_view line) { return line.substr(0, line.find_first_of(";#")); }

// Applies one trimmed, non-empty line to the map; a header changes the current section.
std::expected<void, std::string> read_line(std::string_view line, std::size_t number, std::string& section,
                                           ConfigMap& map) {
  if (auto open = line.find('['); open != std::string_view::npos) {
    auto close = line.rfind(']');
    // A "]" that stands before the first "[" closes nothing either.
    if (close == std::string_view::npos || close < open) {
      return std::unexpected(line_error(number, open, "Found opening bracket but no closing bracket"));
    }
    section = text::lower_case(text::trim_white_space(line.substr(open + 1, close - open - 1)));
    return {};
  }
  if (auto equals = line.find('='); equals != std::string_view::npos) {
    std::string key = text::lower_case(text::trim_white_space(line.substr(0, equals)));
    if (key.empty()) return std::unexpected(line_error(number, equals, "Key cannot be empty"));
    map[section][std::move(key)] = std::string(text::trim_white_space(line.substr(equals + 1)));
    return {};
  }
  map[section][text::lower_case(line)] = std::nullopt;
  return {};
}

constexpr mode_t config_file_mode = 0644;

// Owns the GError that libcfgkit leaves for a failed write, if it leaves one.
class CfgkitError {
 public:
  CfgkitError() = default;
  CfgkitError(const CfgkitError&) = delete;
  CfgkitError& operator=(const CfgkitError&) = delete;
  ~CfgkitError() { g_clear_error(&error_); }
  GError** out() noexcept { return &error_; }
  const GError* get() const noexcept { return error_; }

 private:
  GError* error_ = nullptr;
};

std::string complaint(const GError* error) {
  if (error == nullptr) return "Unknown error occurred.\n";
  return "Error: " + text::repair_utf8(error->message ? error->message : "") + "\n";
}

}  // namespace

std::expected<ConfigMap, std::string> parse(std::string_view utf8) {
  ConfigMap map;
  std::string section = "default";
  std::size_t number = 0;
  while (!utf8.empty()) {
    auto feed = utf8.find('\n');
    std::string_view line = utf8.substr(0, feed);
    if (feed != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    utf8.remove_prefix(feed == std::string_view::npos ? utf8.size() : feed + 1);

    std::string_view content = text::trim_white_space(without_comment(line));
    if (!content.empty()) {
      if (auto read = read_line(content, number, section, map); !read) {
        return std::unexpected(std::move(read.error()));
      }
    }
    ++number;
  }
  return map;
}

std::expected<ConfigMap, std::string> load(const std::string& path) {
  // Non-blocking open so that a FIFO put in place of the file cannot hang start-up.
  const platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) return std::unexpected("couldn't open " + path + ": " + os_error_text(errno));

  auto bytes = read_all(file.get());
  if (!bytes && bytes.error() == EFBIG) {
    return std::unexpected("couldn't read " + path + ": larger than " + std::to_string(largest_config_file) + " bytes");
  }
  if (!bytes) return std::unexpected("couldn't read " + path + ": " + os_error_text(bytes.error()));
  if (!text::is_utf8(*bytes)) {
    return std::unexpected("couldn't read " + path + ": stream did not contain valid UTF-8");
  }
  return parse(*bytes);
}

std::string contents_for(std::int8_t level) { return "[Bluetooth]\nRange = " + std::to_string(level) + "\n"; }

void store(const std::string& path, std::int8_t level) {
  const std::string contents = contents_for(level);
  CfgkitError error;
  // BLOCKS until the file and its directory are on storage.
  int stored = cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.c_str(), contents.size(), ::getuid(),
                                                       ::getgid(), config_file_mode, error.out());
  if (stored != 0) return;
  std::string text = complaint(error.get());
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace src::config_file
