#include "bridge/hci_exchange.hpp"

#include "bridge/concat.hpp"
#include "bridge/hci_event.hpp"

namespace bridge {

std::expected<HciAnswer, std::string> exchange(HciTransport& transport, const HciCommand& command,
                                               std::chrono::milliseconds limit) {
  const Deadline deadline = std::chrono::steady_clock::now() + limit;
  const auto failure = [&](std::string_view what) { return std::unexpected(concat(command.controller, ": ", what)); };
  if (auto sent = transport.send(command_packet(command)); !sent) return std::unexpected(std::move(sent.error()));

  const std::uint16_t opcode = opcode_of(command);
  bool pending = false;
  for (;;) {
    auto packet = transport.receive(deadline);
    if (!packet) return std::unexpected(std::move(packet.error()));
    if (!*packet)
      return failure(concat("no answer to command ", command.group, ' ', command.command, " within ", limit.count(),
                            " ms", pending ? " (the controller accepted it but never completed it)" : ""));
    auto event = decode_event_packet(**packet);
    if (!event) return failure(event.error());
    auto meaning = interpret(*event, opcode);
    if (!meaning) return failure(meaning.error());
    switch (meaning->kind) {
      case EventMeaning::Kind::unrelated: break;
      case EventMeaning::Kind::pending: pending = true; break;
      case EventMeaning::Kind::answered:
        return HciAnswer{print_command(command) + print_event(*event) + status_line(meaning->status), meaning->status};
    }
  }
}

}  // namespace bridge
