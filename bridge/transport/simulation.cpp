#include "bridge/transport/simulation.hpp"

#include <deque>
#include <utility>

#include "bridge/transport/answer_reader.hpp"
#include "bridge/transport/hci_event.hpp"
#include "bridge/transport/hci_kernel.hpp"

namespace bridge {
namespace {

using Packet = std::vector<std::uint8_t>;

// The events a controller sends for the command packet, as the control says.
std::deque<Packet> events_for(const Packet& command, const SimulationControl& control) {
  const std::uint8_t opcode_low = command[1], opcode_high = command[2];
  const auto status = static_cast<std::uint8_t>(control.status);
  std::deque<Packet> events;
  const auto line_up = [&](const HciEvent& event) { events.push_back(event_packet(event)); };

  switch (control.before) {
    case SimulatedNoise::none: break;
    case SimulatedNoise::packets: line_up({hci::completed_packets, {0x01, 0x01, 0x00, 0x01, 0x00}}); break;
    case SimulatedNoise::advertising:
      // One report from 11:22:33:44:55:66 with a flags field, at -60 dBm.
      line_up(
          {hci::le_meta, {0x02, 0x01, 0x00, 0x00, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x03, 0x02, 0x01, 0x06, 0xC4}});
      break;
    case SimulatedNoise::other: line_up({hci::command_complete, {0x01, 0x03, 0x0C, 0x00}}); break;  // Reset's
  }

  HciEvent complete{hci::command_complete, {0x01, opcode_low, opcode_high, status}};
  complete.parameters.insert(complete.parameters.end(), control.extra.begin(), control.extra.end());
  switch (control.answer) {
    case SimulatedAnswer::complete: line_up(complete); break;
    case SimulatedAnswer::status: line_up({hci::command_status, {status, 0x01, opcode_low, opcode_high}}); break;
    case SimulatedAnswer::pending:
      line_up({hci::command_status, {0x00, 0x01, opcode_low, opcode_high}});
      line_up(complete);
      break;
    case SimulatedAnswer::none: break;
  }
  return events;
}

std::optional<StandInReply> stand_in(const SimulationControl& control) {
  using Kind = StandInReply::Kind;
  switch (control.reply) {
    case SimulatedReply::output: break;
    case SimulatedReply::error:
      return StandInReply{Kind::error, control.error_name.value_or(""), control.error_message};
    case SimulatedReply::empty: return StandInReply{Kind::empty, "", ""};
    case SimulatedReply::uint32: return StandInReply{Kind::number, "", ""};
    case SimulatedReply::text: return StandInReply{Kind::text, "", control.text};
  }
  return std::nullopt;
}

class SimulatedExchange final : public Exchange {
 public:
  SimulatedExchange(const TransmitPower& command, const SimulationControl& control, std::chrono::milliseconds limit,
                    TimePoint now)
      : reader_(command),
        events_(events_for(command_packet(command), control)),
        due_(now + control.delay),
        instead_(stand_in(control)),
        limit_(limit) {}

  std::vector<int> fds() const override { return {}; }
  std::optional<TimePoint> wake_time() const override {
    if (events_.empty()) return std::nullopt;  // silent: only the deadline ends it
    return due_;
  }

  std::optional<ExchangeResult> step(TimePoint now) override {
    if (now < due_) return std::nullopt;
    while (!events_.empty()) {
      auto result = reader_.take(events_.front());
      events_.pop_front();
      if (result && *result) (*result)->instead = instead_;
      if (result) return result;
    }
    return std::nullopt;
  }

  std::string give_up() override { return reader_.no_answer(limit_); }

 private:
  AnswerReader reader_;
  std::deque<Packet> events_;
  TimePoint due_;
  std::optional<StandInReply> instead_;
  std::chrono::milliseconds limit_;
};

}  // namespace

ControlSource control_file(std::filesystem::path file) {
  return [file = std::move(file)](const TransmitPower&) { return load_control(file); };
}

std::expected<std::unique_ptr<Exchange>, std::string> SimulatedControllers::start(const TransmitPower& command,
                                                                                  const ExchangeTerms& terms,
                                                                                  TimePoint now) {
  auto control = control_(command);
  if (!control) return std::unexpected(std::move(control.error()));
  received_.push_back(command);
  if (received_.size() > kept_commands) received_.pop_front();
  ++received_count_;
  return std::make_unique<SimulatedExchange>(command, *control, terms.limit, now);
}

}  // namespace bridge
