#pragma once
// The bridge's own way to the controller: a raw HCI socket of the kernel, no tool in between.
#include <string>

#include "bridge/hci_exchange.hpp"
#include "platform/fd/unique_fd.hpp"

namespace bridge {

class HciSocket final : public HciTransport {
 public:
  // A raw socket bound to the command's controller (hciN is index N) that the kernel lets only
  // Command Complete and Command Status events of the command's opcode reach. Sending a vendor
  // command through it needs CAP_NET_RAW.
  static std::expected<HciSocket, std::string> open(const HciCommand& command);

  std::expected<void, std::string> send(std::span<const std::uint8_t> packet) override;
  std::expected<std::optional<std::vector<std::uint8_t>>, std::string> receive(Deadline deadline) override;

 private:
  HciSocket(platform::UniqueFd fd, std::string controller) noexcept
      : fd_(std::move(fd)), controller_(std::move(controller)) {}
  std::string failed(std::string_view step, int error) const;

  platform::UniqueFd fd_;
  std::string controller_;
};

}  // namespace bridge
