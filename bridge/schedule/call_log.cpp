#include "bridge/schedule/call_log.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/concat.hpp"
#include "platform/fd/unique_fd.hpp"

namespace bridge {

std::expected<void, std::string> append_call_log(const std::filesystem::path& file, const TransmitPower& command) {
  const auto failure = [&] {
    return std::unexpected(concat("Cannot write call log ", file.string(), ": ", std::strerror(errno)));
  };
  platform::UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd) return failure();
  const std::string line = command_line(command) + '\n';
  ssize_t written;
  do {
    written = ::write(fd.get(), line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  if (written != static_cast<ssize_t>(line.size())) {
    if (written >= 0) errno = ENOSPC;
    return failure();
  }
  if (fd.close() != 0) return failure();
  return {};
}

}  // namespace bridge
