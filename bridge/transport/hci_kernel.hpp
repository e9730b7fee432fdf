#pragma once
// The few kernel Bluetooth definitions the bridge needs, declared here so that it needs no
// Bluetooth library or headers. They are part of the kernel's user-space ABI and do not change.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

namespace bridge::hci {

inline constexpr int protocol_hci = 1;   // BTPROTO_HCI
inline constexpr int level_hci = 0;      // SOL_HCI
inline constexpr int option_filter = 2;  // HCI_FILTER

inline constexpr std::uint16_t no_device = 0xffff;   // HCI_DEV_NONE
inline constexpr std::uint16_t channel_raw = 0;      // HCI_CHANNEL_RAW
inline constexpr std::uint16_t channel_control = 3;  // HCI_CHANNEL_CONTROL

// Packet types: the first byte of every packet on a raw socket.
inline constexpr std::uint8_t command_packet = 0x01;
inline constexpr std::uint8_t event_packet = 0x04;

// Event codes.
inline constexpr std::uint8_t command_complete = 0x0e;
inline constexpr std::uint8_t command_status = 0x0f;
inline constexpr std::uint8_t completed_packets = 0x13;
inline constexpr std::uint8_t le_meta = 0x3e;
inline constexpr std::uint8_t stack_internal = 0xfd;

// Largest event: one header byte of code, one of length, 255 of parameters, after the type.
inline constexpr std::size_t largest_event_packet = 1 + 2 + 255;
// Largest packet a controller's raw socket may read: a command has a two-byte opcode.
inline constexpr std::size_t largest_packet = 1 + 3 + 255;

struct SocketAddress {  // struct sockaddr_hci
  sa_family_t family;
  std::uint16_t device;
  std::uint16_t channel;
};

// HCIGETDEVLIST, _IOR('H', 210, int): the controllers the kernel has, with their flags.
inline constexpr unsigned long get_device_list = 0x800448d2;
inline constexpr std::uint16_t most_devices = 1000;  // hci0 to hci999, all the names a call may give
inline constexpr std::uint32_t flag_up = 1u << 0;    // HCI_UP

struct DeviceRequest {  // struct hci_dev_req
  std::uint16_t id;
  std::uint32_t flags;
};
static_assert(sizeof(DeviceRequest) == 8);

struct Filter {  // struct hci_filter: what the kernel lets through to a raw socket
  std::uint32_t type_mask;
  std::uint32_t event_mask[2];
  std::uint16_t opcode;  // little-endian; 0 matches every command
};
static_assert(sizeof(Filter) == 16);

}  // namespace bridge::hci
