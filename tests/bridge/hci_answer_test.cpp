// Reading the controller's answer: through the emulated controller (the same code reads a real
// controller's socket) and from the tool's printed output.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>

#include "bridge/transport/printed_event.hpp"
#include "bridge/transport/simulation.hpp"

namespace bridge {
namespace {

using namespace std::chrono_literals;

const std::string level_25_command = "< HCI Command: ogf 0x3f, ocf 0x0087, plen 1\n  05 \n";

// The emulated controller's answer to level 25, read as a real controller's would be; what was
// seen once `limit` is over when none came.
std::string through_controller(std::string_view control_lines, std::chrono::milliseconds limit = 50ms) {
  auto control = parse_control(control_lines);
  if (!control) return "bad control: " + control.error();
  SimulatedControllers controllers([&](const TransmitPower&) { return *control; });
  const TimePoint now{};
  auto exchange = controllers.start(*read_transmit_power("hci0", "0x3f", "0x0087", "0x5"), {now + limit, limit}, now);
  if (!exchange) return "error: " + exchange.error();
  const auto answer = (*exchange)->step(now);
  if (!answer) return "error: " + (*exchange)->give_up();
  return *answer ? (*answer)->reply : "error: " + answer->error();
}

TEST(ControllerAnswer, IsTheStatusOfTheCommandsOwnAnswerWhateverComesBeforeOrAfterIt) {
  const struct {
    std::string control, reply;
  } cases[] = {
      {"", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 00 \nStatus: 0\n"},
      {"status=12", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 0C \nStatus: 12\n"},
      {"status=18", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 12 \nStatus: 18\n"},
      {"status=255", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC FF \nStatus: -1\n"},
      {"status=-128", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 80 \nStatus: -128\n"},
      {"extra=05", level_25_command + "> HCI Event: 0x0e plen 5\n  01 87 FC 00 05 \nStatus: 0\n"},
      {"before=packets\nstatus=12", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 0C \nStatus: 12\n"},
      {"before=advertising", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 00 \nStatus: 0\n"},
      {"before=other\nstatus=1", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 01 \nStatus: 1\n"},
      {"answer=status\nstatus=12", level_25_command + "> HCI Event: 0x0f plen 4\n  0C 01 87 FC \nStatus: 12\n"},
      {"answer=pending\nstatus=3", level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 03 \nStatus: 3\n"},
      {"extra=" + std::string(250 * 3 - 1, ' ').replace(0, 2, "AA"),
       level_25_command + "> HCI Event: 0x0e plen 5\n  01 87 FC 00 AA \nStatus: 0\n"},
      // Long events wrap at twenty bytes, as the tool prints them.
      {"extra=11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11",
       level_25_command + "> HCI Event: 0x0e plen 21\n  01 87 FC 00 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 \n"
                          "  11 \nStatus: 0\n"},
      {"answer=none", "error: hci0: no answer to command 0x3f 0x0087 within 50 ms"},
      {"answer=status\nstatus=0",
       "error: hci0: no answer to command 0x3f 0x0087 within 50 ms (the controller accepted it but never completed it)"},
  };
  for (const auto& c : cases) EXPECT_EQ(through_controller(c.control), c.reply) << c.control;
}

TEST(PrintedAnswer, IsReadOnlyFromAWellFormedLastEvent) {
  const struct {
    std::string printed;
    std::string result;  // "code: bytes" or the error
  } cases[] = {
      {level_25_command + "> HCI Event: 0x0e plen 4\n  01 87 FC 00 \n", "0e: 01 87 FC 00"},
      {"> HCI Event: 0x0e plen 5\n  01 87 FC 00 05 \n", "0e: 01 87 FC 00 05"},
      {"> HCI Event: 0x3e plen 0\n", "3e: "},
      {"> HCI Event: 0x0e plen 21\n  01 87 FC 00 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 \n  11 \n",
       "0e: 01 87 FC 00 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11 11"},
      {"", "no HCI event"},
      {"Invalid device: Network is down\n", "no HCI event"},
      {"> HCI Event: 0x0e plen 4\n  01 87 FC \n", "an event whose length disagrees with its bytes"},
      {"> HCI Event: 0x0e plen 3\n  01 87 FC 00 \n", "an event whose length disagrees with its bytes"},
      {"> HCI Event: 0x0e plen 4\n  01 87 FC 0 \n", "an unreadable byte line"},
      {"> HCI Event: 0x0e plen 4\n  01 87 FC 00\n", "an unreadable byte line"},
      {"> HCI Event: 0x0e plen 4\n  01 87 FC 0G \n", "an unreadable byte line"},
      {"> HCI Event: 0x0e plen 256\n", "an unreadable event line"},
      {"> HCI Event: 0x0e plen\n", "an unreadable event line"},
      {"> HCI Event: 0xe plen 4\n  01 87 FC 00 \n", "an unreadable event line"},
      {"> HCI Event: 0x0e plen 4\n  01 87 FC 00 \nStatus: 0\n", "more after the event"},
      {"> HCI Event: 0x13 plen 0\n> HCI Event: 0x0e plen 0\n", "more after the event"},
  };
  for (const auto& c : cases) {
    const auto event = read_printed_event(c.printed);
    const std::string result =
        event ? print_event(*event).substr(15, 2) + ": " + hex_list(event->parameters) : event.error();
    EXPECT_EQ(result, c.result) << c.printed;
  }
}

}  // namespace
}  // namespace bridge
