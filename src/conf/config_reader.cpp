// Reading direction of ConfigFile: the whole file into a ConfigMap.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

#include "src/conf/config_file.hpp"
#include "src/conf/os_error.hpp"
#include "src/unicode_text.hpp"

namespace ranged {
namespace {

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(int fd) noexcept : fd_(fd) {}
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile() { ::close(fd_); }
  int fd() const noexcept { return fd_; }

 private:
  int fd_;
};

// BLOCKS on the file system. Returns the errno value of the first failed read.
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
  }
}

std::string line_error(std::size_t line, std::size_t offset, std::string_view what) {
  return "line " + std::to_string(line) + ":" + std::to_string(offset) + ": " + std::string(what);
}

std::string_view without_comment(std::string_view line) {
  return line.substr(0, line.find_first_of(";#"));
}

// Applies one trimmed, non-empty line to the map; a header changes the current section.
std::expected<void, std::string> read_line(std::string_view line, std::size_t number,
                                           std::string& section, ConfigMap& map) {
  if (auto open = line.find('['); open != std::string_view::npos) {
    auto close = line.rfind(']');
    // A "]" that stands before the first "[" closes nothing either.
    if (close == std::string_view::npos || close < open) {
      return std::unexpected(line_error(number, open, "Found opening bracket but no closing bracket"));
    }
    section = lower_case(trim_white_space(line.substr(open + 1, close - open - 1)));
    return {};
  }
  if (auto equals = line.find('='); equals != std::string_view::npos) {
    std::string key = lower_case(trim_white_space(line.substr(0, equals)));
    if (key.empty()) return std::unexpected(line_error(number, equals, "Key cannot be empty"));
    map[section][std::move(key)] = std::string(trim_white_space(line.substr(equals + 1)));
    return {};
  }
  map[section][lower_case(line)] = std::nullopt;
  return {};
}

}  // namespace

std::expected<ConfigMap, std::string> ConfigFile::parse(std::string_view utf8) {
  ConfigMap map;
  std::string section = "default";
  std::size_t number = 0;
  while (!utf8.empty()) {
    auto feed = utf8.find('\n');
    std::string_view line = utf8.substr(0, feed);
    if (feed != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    utf8.remove_prefix(feed == std::string_view::npos ? utf8.size() : feed + 1);

    std::string_view content = trim_white_space(without_comment(line));
    if (!content.empty()) {
      if (auto read = read_line(content, number, section, map); !read) {
        return std::unexpected(std::move(read.error()));
      }
    }
    ++number;
  }
  return map;
}

std::expected<ConfigMap, std::string> ConfigFile::load(const std::string& path) {
  // Non-blocking open so that a FIFO put in place of the file cannot hang start-up.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::unexpected("couldn't open " + path + ": " + os_error_text(errno));
  ReadOnlyFile file(fd);

  auto bytes = read_all(file.fd());
  if (!bytes) return std::unexpected("couldn't read " + path + ": " + os_error_text(bytes.error()));
  if (!is_valid_utf8(*bytes)) {
    return std::unexpected("couldn't read " + path + ": stream did not contain valid UTF-8");
  }
  return parse(*bytes);
}

}  // namespace ranged
