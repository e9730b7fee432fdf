// The controller's answer, read the bridge's way and the model's way. The first byte picks the
// input's kind: even, an event packet from the socket; odd, the text the tool printed. Every
// answer the bridge accepts must also reach the service as the same signed status.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "bridge/transport/hci_event.hpp"
#include "bridge/transport/printed_event.hpp"
#include "fuzz/oracles/hci_model.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "src/tx_power_command.hpp"

namespace {

std::string describe(const bridge::HciEvent& event) {
  return std::to_string(event.code) + ": " + bridge::hex_list(event.parameters);
}

std::string describe(const oracle::ModelEvent& event) {
  return describe(bridge::HciEvent{event.code, event.parameters});
}

void check_packet(std::string_view input) {
  const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  const auto ours = bridge::decode_event_packet(bytes);
  const auto model = oracle::event_from_packet(input);
  if (ours.has_value() != model.has_value() || (ours && ours->parameters != model->parameters) ||
      (ours && ours->code != model->code))
    oracle::mismatch("decode_event_packet", input, ours ? describe(*ours) : ours.error(),
                     model ? describe(*model) : "refused");
  if (!ours) return;

  // What the tool would print for it reads back as the same event.
  const auto reread = bridge::read_printed_event(bridge::print_event(*ours));
  if (!reread || *reread != *ours)
    oracle::mismatch("read_printed_event(print_event)", input, reread ? describe(*reread) : reread.error(),
                     describe(*ours));

  const auto meaning = bridge::interpret(*ours, 0xFC87);
  const auto expected = oracle::meaning_for_power_command(*model);
  using Kind = bridge::EventMeaning::Kind;
  const bool agree = !meaning                           ? expected.malformed
                     : meaning->kind == Kind::unrelated ? !expected.malformed && !expected.pending && !expected.status
                     : meaning->kind == Kind::pending   ? expected.pending
                                                        : expected.status == meaning->status;
  if (!agree)
    oracle::mismatch("interpret", input, meaning ? std::to_string(int(meaning->kind)) : meaning.error(), "differs");
  if (!meaning || meaning->kind != Kind::answered) return;

  const auto command = *bridge::read_transmit_power("hci0", "0x3f", "0x0087", "0x5");
  const std::string reply =
      bridge::print_command(command) + bridge::print_event(*ours) + bridge::status_line(meaning->status);
  const auto status = src::tx_power_command::controller_status(reply);
  if (!status || *status != static_cast<std::int8_t>(*expected.status))
    oracle::mismatch("the service's reading of the reply", input,
                     status ? std::to_string(*status) : status.error().message(),
                     std::to_string(static_cast<std::int8_t>(*expected.status)));
}

void check_printed(std::string_view input) {
  const auto ours = bridge::read_printed_event(input);
  const auto model = oracle::printed_event(input);
  if (ours.has_value() != model.has_value() ||
      (ours && (ours->code != model->code || ours->parameters != model->parameters)))
    oracle::mismatch("read_printed_event", input, ours ? describe(*ours) : ours.error(),
                     model ? describe(*model) : "refused");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    check_packet(input);
  } else {
    check_printed(input);
  }
  return 0;
}
