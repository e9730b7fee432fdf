#include "src/supervisor_notice.hpp"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fd/unique_fd.hpp"

namespace src {

std::expected<void, Error> notify_supervisor(std::string_view state) {
  const char* const address = std::getenv("NOTIFY_SOCKET");
  if (address == nullptr || *address == '\0') return {};
  const auto failed = [address](const char* why) {
    return std::unexpected(Error(std::string("cannot notify ") + address + ": " + why));
  };

  // A path, or "@name" for a name in the abstract namespace.
  sockaddr_un peer{};
  peer.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(address);
  if ((address[0] != '/' && address[0] != '@') || length >= sizeof peer.sun_path) return failed("not a socket address");
  std::memcpy(peer.sun_path, address, length);
  if (address[0] == '@') peer.sun_path[0] = '\0';

  const platform::UniqueFd socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) return failed(std::strerror(errno));
  const auto address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  // A datagram socket: the notice goes whole or not at all, and never blocks for long.
  if (::sendto(socket.get(), state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer),
               address_length) < 0)
    return failed(std::strerror(errno));
  return {};
}

void notify_supervisor_or_say_why(std::string_view state) {
  if (auto told = notify_supervisor(state); !told) {
    const std::string line = told.error().message() + "\n";
    std::fputs(line.c_str(), stderr);
  }
}

}  // namespace src
