// vhci_controller: a Bluetooth controller for the kernel's virtual HCI driver (/dev/vhci).
// Answers the kernel's init sequence so that hci0 comes up, notes every command it is sent,
// and answers the vendor transmit-power command (0xfc87) as a behaviour file says.
//
// Usage: vhci_controller [--uart] COMMAND_LOG BEHAVIOUR_FILE [RADIO_FILE]
//   --uart: the controller sits on a serial line (hci_uart) instead (controller_link.hpp), for
//   kernels without /dev/vhci.
//   Prints "index N" once the kernel has registered the controller as hciN.
//   RADIO_FILE holds, on its first line, the transmit power the radio has now: the parameter byte
//   in hex of the last 0xfc87 it completed with status 0 ("0a"), or "none" after a Reset (0x0c03),
//   which makes it forget it; on its second, "owed N": the late answers still to come. Replaced
//   whole at every change.
//   COMMAND_LOG gets one line per command: "0xOPCODE" then the parameter bytes, in hex.
//   BEHAVIOUR_FILE is read for every 0xfc87 command; key=value lines:
//     status=0x0c          status byte of the Command Complete (default 0)
//     extra=05             bytes returned after the status (hex, spaces allowed)
//     before=ncp|adv       first send an unrelated event: Number Of Completed Packets,
//                          or an LE Advertising Report
//     command_status=0xNN  first send a Command Status; non-zero: nothing after it
//     status_only=1        a Command Status 0 and never its Command Complete
//     opcode=0xNNNN        answer with this opcode in place of 0xfc87 (not carried out)
//     silent=1             no answer at all
//     once=1               for the next command only: the file is removed once read
//     late_ms=3000         send the answer that late; the kernel's own commands are still
//                          answered at once meanwhile. The transmit-power commands are carried
//                          out in their order, as a controller does: a later one is never
//                          answered before an earlier late one. A Reset (0x0c03) drops the
//                          answers still due, as a controller forgets what it was doing.
//   A missing file means status 0 and nothing else.
//   A late answer adds a line to COMMAND_LOG when it is sent ("answered 0xfc87 0a"), dropped
//   ("dropped 0xfc87 0a"), or refused by the kernel because the controller is down
//   ("undelivered 0xfc87 0a").
// SIGTERM ends it; closing /dev/vhci (or the line) makes the kernel unregister the controller.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tests/bluetooth/controller_link.hpp"

namespace {

// H4 packet types as /dev/vhci carries them.
constexpr std::uint8_t command_packet = 0x01;
constexpr std::uint8_t event_packet = 0x04;
constexpr std::uint8_t vendor_packet = 0xff;

constexpr std::uint8_t command_complete = 0x0e;
constexpr std::uint8_t command_status = 0x0f;
constexpr std::uint8_t completed_packets = 0x13;
constexpr std::uint8_t le_meta = 0x3e;

constexpr std::uint16_t reset_opcode = 0x0c03;
constexpr std::uint16_t transmit_power_opcode = 0xfc87;  // group 0x3f, command 0x0087

using controller::Bytes;
using Clock = std::chrono::steady_clock;

// What to send for one transmit-power command, and how long after the command; and the power
// the radio takes once the answer goes out, if it carries the command out.
struct Answer {
  std::vector<Bytes> packets;
  std::chrono::milliseconds late{0};
  std::optional<std::uint8_t> takes;
};

// An answer waiting for its time; `command` is the command as the log shows it.
struct LateAnswer {
  Clock::time_point due;
  std::string command;
  std::vector<Bytes> packets;
  std::optional<std::uint8_t> takes;
};

volatile sig_atomic_t stopping = 0;

void request_stop(int) { stopping = 1; }

// Return parameters after the status byte, as long as the Bluetooth core standard defines them
// for the commands the kernel sends while it sets a controller up. Anything else gets none.
Bytes return_parameters(std::uint16_t opcode) {
  switch (opcode) {
    case 0x1001:  // Read Local Version Information: HCI 5.0, manufacturer 0xffff (tests)
      return {0x09, 0x00, 0x00, 0x09, 0xff, 0xff, 0x00, 0x00};
    case 0x1002:  // Read Local Supported Commands
      return Bytes(64, 0);
    case 0x1003:  // Read Local Supported Features: LE Supported (Controller), bit 38
      return {0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00};
    case 0x1005:  // Read Buffer Size: ACL MTU 1021, SCO MTU 64, 8 ACL and 8 SCO buffers
      return {0xfd, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00};
    case 0x1009:  // Read BD_ADDR: an all-zero address makes every power-on fail
      return {0x55, 0x44, 0x33, 0x22, 0x11, 0x00};
    case 0x0c14:  // Read Local Name
      return Bytes(248, 0);
    case 0x0c23:  // Read Class of Device
      return Bytes(3, 0);
    case 0x0c25:  // Read Voice Setting
      return Bytes(2, 0);
    case 0x0c38:  // Read Number Of Supported IAC
      return {0x01};
    case 0x0c39:  // Read Current IAC LAP: none
      return {0x00};
    case 0x2002:  // LE Read Buffer Size: 0 means "share the ACL buffers"
      return Bytes(3, 0);
    case 0x2003:  // LE Read Local Supported Features
    case 0x201c:  // LE Read Supported States
      return Bytes(8, 0);
    default:  // Reset, Set Event Mask, Write Scan Enable, Write Local Name, ...: status only
      return {};
  }
}

Bytes event(std::uint8_t code, const Bytes& parameters) {
  Bytes packet{event_packet, code, static_cast<std::uint8_t>(parameters.size())};
  packet.insert(packet.end(), parameters.begin(), parameters.end());
  return packet;
}

Bytes complete(std::uint16_t opcode, std::uint8_t status, const Bytes& returned) {
  Bytes parameters{0x01, static_cast<std::uint8_t>(opcode & 0xff), static_cast<std::uint8_t>(opcode >> 8), status};
  parameters.insert(parameters.end(), returned.begin(), returned.end());
  return event(command_complete, parameters);
}

Bytes status_event(std::uint16_t opcode, std::uint8_t status) {
  return event(command_status,
               {status, 0x01, static_cast<std::uint8_t>(opcode & 0xff), static_cast<std::uint8_t>(opcode >> 8)});
}

// One report of a connectable advertiser with a flags field, RSSI -60 dBm.
Bytes advertising_report() {
  return event(le_meta, {0x02, 0x01, 0x00, 0x00, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x03, 0x02, 0x01, 0x06, 0xc4});
}

// Handle 1 completed 1 packet.
Bytes completed_packets_event() { return event(completed_packets, {0x01, 0x01, 0x00, 0x01, 0x00}); }

unsigned long number(const std::string& text) { return std::stoul(text, nullptr, 0); }

Bytes hex_bytes(const std::string& text) {
  Bytes bytes;
  std::string digits;
  for (const char c : text)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::map<std::string, std::string> read_behaviour(const char* path) {
  std::map<std::string, std::string> settings;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) settings[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return settings;
}

// The events that answer one transmit-power command, in order, and whether it is carried out.
std::vector<Bytes> transmit_power_packets(std::map<std::string, std::string>& settings, bool& carried_out) {
  carried_out = false;
  if (settings["silent"] == "1") return {};
  const auto opcode =
      static_cast<std::uint16_t>(settings["opcode"].empty() ? transmit_power_opcode : number(settings["opcode"]));
  std::vector<Bytes> packets;
  if (settings["before"] == "ncp") packets.push_back(completed_packets_event());
  if (settings["before"] == "adv") packets.push_back(advertising_report());
  if (settings["status_only"] == "1") {
    packets.push_back(status_event(opcode, 0));
    return packets;
  }
  if (!settings["command_status"].empty()) {
    const auto status = static_cast<std::uint8_t>(number(settings["command_status"]));
    packets.push_back(status_event(opcode, status));
    if (status != 0) return packets;
  }
  const auto status = static_cast<std::uint8_t>(settings["status"].empty() ? 0 : number(settings["status"]));
  packets.push_back(complete(opcode, status, hex_bytes(settings["extra"])));
  carried_out = status == 0 && opcode == transmit_power_opcode;
  return packets;
}

Answer transmit_power_answer(const char* behaviour_path, std::uint8_t power) {
  auto settings = read_behaviour(behaviour_path);
  if (settings["once"] == "1") std::remove(behaviour_path);
  const std::chrono::milliseconds late{settings["late_ms"].empty() ? 0 : number(settings["late_ms"])};
  bool carried_out = false;
  auto packets = transmit_power_packets(settings, carried_out);
  return {std::move(packets), late, carried_out ? std::optional(power) : std::nullopt};
}

// What RADIO_FILE tells: the radio's transmit power and the answers still owed.
struct Radio {
  const char* path = nullptr;  // none: nothing is told
  std::optional<std::uint8_t> power;
  std::size_t owed = 0;

  void note() const {
    if (path == nullptr) return;
    const std::string next = std::string(path) + ".new";
    if (std::FILE* file = std::fopen(next.c_str(), "w")) {
      if (power) std::fprintf(file, "%02x\nowed %zu\n", *power, owed);
      else std::fprintf(file, "none\nowed %zu\n", owed);
      std::fclose(file);
      std::rename(next.c_str(), path);
    }
  }
};

std::string command_text(std::uint16_t opcode, std::span<const std::uint8_t> parameters) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", opcode);
  std::string line = text;
  for (const auto byte : parameters) {
    std::snprintf(text, sizeof text, " %02x", byte);
    line += text;
  }
  return line;
}

void log_line(std::FILE* log, const std::string& line) {
  std::fprintf(log, "%s\n", line.c_str());
  std::fflush(log);  // the test reads the log while we run
}

// How long ppoll may wait: until the first late answer is due; nullptr (for ever) if none is.
const timespec* until_due(const std::vector<LateAnswer>& late, timespec& storage) {
  if (late.empty()) return nullptr;
  const auto wait = std::max(Clock::duration::zero(), late.front().due - Clock::now());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  storage.tv_sec = static_cast<time_t>(seconds.count());
  storage.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds).count());
  return &storage;
}

// Keeps the answers in the order they are due (commands with the same delay: in their order).
void add_late(std::vector<LateAnswer>& late, LateAnswer answer) {
  const auto place = std::upper_bound(late.begin(), late.end(), answer.due,
                                      [](Clock::time_point due, const LateAnswer& other) { return due < other.due; });
  late.insert(place, std::move(answer));
}

// Sends the late answers that are due, in the order of their commands. The kernel refuses
// events while the controller is down; that answer is lost, as it would be on a real link.
void send_due(const controller::Link& link, std::vector<LateAnswer>& late, std::FILE* log, Radio& radio) {
  const auto now = Clock::now();
  auto answer = late.begin();
  for (; answer != late.end() && answer->due <= now; ++answer) {
    bool delivered = true;
    for (const auto& packet : answer->packets) delivered = delivered && link.send(packet);
    log_line(log, (delivered ? "answered " : "undelivered ") + answer->command);
    if (delivered && answer->takes) radio.power = answer->takes;
  }
  if (answer == late.begin()) return;
  late.erase(late.begin(), answer);
  radio.owed = late.size();
  radio.note();
}

}  // namespace

int main(int argc, char** argv) {
  const bool uart = argc >= 2 && std::strcmp(argv[1], "--uart") == 0;
  const int given = argc - (uart ? 2 : 1);
  if (given != 2 && given != 3) {
    std::fprintf(stderr, "usage: vhci_controller [--uart] COMMAND_LOG BEHAVIOUR_FILE [RADIO_FILE]\n");
    return 2;
  }
  const char* const log_path = argv[uart ? 2 : 1];
  const char* const behaviour_path = argv[uart ? 3 : 2];
  Radio radio{given == 3 ? argv[uart ? 4 : 3] : nullptr, std::nullopt, 0};
  radio.note();
  std::FILE* log = std::fopen(log_path, "a");
  if (log == nullptr) {
    std::fprintf(stderr, "vhci_controller: %s: %s\n", log_path, std::strerror(errno));
    return 1;
  }

  // SIGTERM is taken only inside ppoll, so it cannot slip in between a check and a blocking read.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  struct sigaction action {};
  action.sa_handler = request_stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigset_t waiting;
  sigprocmask(SIG_SETMASK, nullptr, &waiting);
  sigdelset(&waiting, SIGTERM);
  sigdelset(&waiting, SIGINT);

  auto link = uart ? controller::Link::open_uart() : controller::Link::open_vhci();
  if (!link) return 1;
  if (link->index()) {
    std::printf("index %u\n", *link->index());
    std::fflush(stdout);
  } else if (!link->send({vendor_packet, 0x00})) {  // a primary controller now, not after 1 s
    return 1;
  }

  std::vector<LateAnswer> late;
  while (!stopping) {
    pollfd readable{.fd = link->fd(), .events = POLLIN, .revents = 0};
    timespec timeout{};
    // BLOCKS until the kernel sends a packet, a late answer is due, or SIGTERM arrives.
    const int ready = ::ppoll(&readable, 1, until_due(late, timeout), &waiting);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "vhci_controller: poll: %s\n", std::strerror(errno));
      return 1;
    }
    send_due(*link, late, log, radio);
    if (ready == 0) continue;
    const auto packets = link->read_packets();
    if (!packets) return 1;
    for (const auto& packet : *packets) {
      if (packet.size() >= 4 && packet[0] == vendor_packet) {  // ff 00 <index LE16>: registered
        std::printf("index %u\n", packet[2] | packet[3] << 8);
        std::fflush(stdout);
        continue;
      }
      if (packet.size() < 4 || packet[0] != command_packet) continue;  // data packets are not ours to answer
      const auto opcode = static_cast<std::uint16_t>(packet[1] | packet[2] << 8);
      const std::size_t declared = packet[3];
      const std::span<const std::uint8_t> parameters(packet.data() + 4, std::min(declared, packet.size() - 4));
      const std::string command = command_text(opcode, parameters);
      log_line(log, command);
      if (opcode == reset_opcode) {
        for (const auto& dropped : late) log_line(log, "dropped " + dropped.command);
        late.clear();
        radio = {radio.path, std::nullopt, 0};
        radio.note();
      }

      Answer answer = opcode == transmit_power_opcode && !parameters.empty()
                          ? transmit_power_answer(behaviour_path, parameters[0])
                          : Answer{{complete(opcode, 0, return_parameters(opcode))}, std::chrono::milliseconds{0}, {}};
      // A transmit-power command waits for the late answers before it, as a controller takes its
      // commands one after the other.
      const bool behind = opcode == transmit_power_opcode && !late.empty();
      if ((answer.late > std::chrono::milliseconds{0} || behind) && !answer.packets.empty()) {
        const auto due = std::max(Clock::now() + answer.late, behind ? late.back().due : Clock::time_point{});
        add_late(late, {due, command, std::move(answer.packets), answer.takes});
        radio.owed = late.size();
        radio.note();
        continue;
      }
      for (const auto& event_bytes : answer.packets)
        if (!link->send(event_bytes)) return 1;
      if (answer.takes) {
        radio.power = answer.takes;
        radio.note();
      }
    }
  }
  std::fclose(log);
  return 0;
}
