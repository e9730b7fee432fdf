#pragma once
// Reading the controller's answer to the command out of the event packets it sends, whatever
// comes before or after it. Our own socket and the simulated controller both read through here.
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bridge/transmit_power.hpp"
#include "bridge/transport/exchange.hpp"

namespace bridge {

class AnswerReader {
 public:
  explicit AnswerReader(TransmitPower command) : command_(std::move(command)) {}

  // One packet: the result when it answers the command (or is malformed); nothing when it is
  // about something else, or is a Command Status 0 saying that the completion is still to come.
  std::optional<ExchangeResult> take(std::span<const std::uint8_t> packet);

  // "hci0: no answer to command 0x3f 0x0087 within 4400 ms", noting a command accepted but
  // never completed.
  std::string no_answer(std::chrono::milliseconds limit) const;

 private:
  TransmitPower command_;
  bool pending_ = false;
};

}  // namespace bridge
