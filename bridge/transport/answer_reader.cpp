#include "bridge/transport/answer_reader.hpp"

#include "bridge/concat.hpp"
#include "bridge/transport/hci_event.hpp"

namespace bridge {

std::optional<ExchangeResult> AnswerReader::take(std::span<const std::uint8_t> packet) {
  const auto failure = [&](std::string_view what) { return std::unexpected(concat(command_.controller, ": ", what)); };
  auto event = decode_event_packet(packet);
  if (!event) return failure(event.error());
  auto meaning = interpret(*event, transmit_power_opcode);
  if (!meaning) return failure(meaning.error());
  switch (meaning->kind) {
    case EventMeaning::Kind::unrelated: break;
    case EventMeaning::Kind::pending: pending_ = true; break;
    case EventMeaning::Kind::answered:
      return HciAnswer{print_command(command_) + print_event(*event) + status_line(meaning->status), meaning->status,
                       std::nullopt};
  }
  return std::nullopt;
}

std::string AnswerReader::no_answer(std::chrono::milliseconds limit) const {
  return concat(command_.controller, ": no answer to command ", group_text, ' ', command_text, " within ",
                limit.count(), " ms", pending_ ? " (the controller accepted it but never completed it)" : "");
}

}  // namespace bridge
