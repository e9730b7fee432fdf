#pragma once
// The bridge's own way to the controller: a raw HCI socket of the kernel, no tool in between.
#include "bridge/transport/exchange.hpp"

namespace bridge {

class HciSocketTransport final : public Transport {
 public:
  // A raw socket bound to the command's controller, on which the kernel lets through only the
  // Command Complete and Command Status events of the command's opcode; the command is written
  // to it at once. Sending a vendor command needs CAP_NET_RAW.
  std::expected<std::unique_ptr<Exchange>, std::string> start(const TransmitPower& command, const ExchangeTerms& terms,
                                                              TimePoint now) override;
};

}  // namespace bridge
