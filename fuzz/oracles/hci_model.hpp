#pragma once
// The controller's answer as a second reading: event packets by their byte offsets, the tool's
// printed event by cutting its lines into words and drawing them again.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace oracle {

struct ModelEvent {
  std::uint8_t code;
  std::vector<std::uint8_t> parameters;
};

// Nothing for a packet that is not exactly one event.
std::optional<ModelEvent> event_from_packet(std::string_view packet);

// What the event says about opcode 0xFC87: nothing for "skip it", a refusal flag for a
// malformed Command Complete or Command Status, otherwise pending or the final status.
struct ModelMeaning {
  bool malformed = false;
  bool pending = false;
  std::optional<std::uint8_t> status;
};
ModelMeaning meaning_for_power_command(const ModelEvent& event);

// The event the tool printed, when its output ends in exactly one well-formed event.
std::optional<ModelEvent> printed_event(std::string_view printed);

}  // namespace oracle
