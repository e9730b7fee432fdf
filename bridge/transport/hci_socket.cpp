#include "bridge/transport/hci_socket.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/concat.hpp"
#include "bridge/transport/answer_reader.hpp"
#include "bridge/transport/hci_event.hpp"
#include "bridge/transport/hci_kernel.hpp"
#include "platform/fd/unique_fd.hpp"

namespace bridge {
namespace {

std::string failed(const TransmitPower& command, std::string_view step, int error) {
  std::string text = concat(command.controller, ": ", step, ": ", std::strerror(error));
  if (step == "write" && error == EPERM) text += " (sending vendor commands needs CAP_NET_RAW)";
  return text;
}

hci::Filter answers_to(std::uint16_t opcode) noexcept {
  hci::Filter filter{};
  filter.type_mask = 1u << hci::event_packet;
  for (const std::uint8_t code : {hci::command_complete, hci::command_status})
    filter.event_mask[code >> 5] |= 1u << (code & 31);
  filter.opcode = opcode;  // the kernel compares it as little-endian, as every target here is
  return filter;
}

class SocketExchange final : public Exchange {
 public:
  SocketExchange(platform::UniqueFd fd, const TransmitPower& command, std::chrono::milliseconds limit)
      : fd_(std::move(fd)), command_(command), reader_(command), limit_(limit) {}

  std::vector<int> fds() const override { return {fd_.get()}; }
  std::optional<TimePoint> wake_time() const override { return std::nullopt; }

  std::optional<ExchangeResult> step(TimePoint /*now*/) override {
    for (;;) {
      std::uint8_t buffer[2 * hci::largest_event_packet];
      const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return std::nullopt;
      if (n < 0) return std::unexpected(failed(command_, "read", errno));
      if (auto result = reader_.take(std::span(buffer, static_cast<std::size_t>(n)))) return result;
    }
  }

  std::string give_up() override { return reader_.no_answer(limit_); }

 private:
  platform::UniqueFd fd_;
  TransmitPower command_;
  AnswerReader reader_;
  std::chrono::milliseconds limit_;
};

}  // namespace

std::expected<std::unique_ptr<Exchange>, std::string> HciSocketTransport::start(const TransmitPower& command,
                                                                                const ExchangeTerms& terms,
                                                                                TimePoint /*now*/) {
  platform::UniqueFd fd(::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, hci::protocol_hci));
  if (!fd) return std::unexpected(failed(command, "socket", errno));
  // The filter comes before the bind, so no other traffic is ever queued on the socket.
  const hci::Filter filter = answers_to(transmit_power_opcode);
  if (::setsockopt(fd.get(), hci::level_hci, hci::option_filter, &filter, sizeof filter) != 0)
    return std::unexpected(failed(command, "setsockopt", errno));
  const hci::SocketAddress address{AF_BLUETOOTH, command.index, hci::channel_raw};
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return std::unexpected(failed(command, "bind", errno));

  const auto packet = command_packet(command);
  ssize_t written;
  do {
    written = ::write(fd.get(), packet.data(), packet.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) return std::unexpected(failed(command, "write", errno));
  // One write is one packet: the kernel takes it whole or not at all.
  if (static_cast<std::size_t>(written) != packet.size()) return std::unexpected(failed(command, "write", EIO));
  return std::make_unique<SocketExchange>(std::move(fd), command, terms.limit);
}

}  // namespace bridge
