// hci_dev_reset: asks the kernel to reset a controller in place (the HCIDEVRESET ioctl), which
// sends it an HCI Reset without powering it down and up. hciconfig's "reset" is a down and up
// instead, so the tests need their own way to the ioctl.
//
// Usage: hci_dev_reset INDEX   (needs CAP_NET_ADMIN)
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int protocol_hci = 1;                     // BTPROTO_HCI
constexpr unsigned long device_reset = 0x400448cb;  // HCIDEVRESET: _IOW('H', 203, int)

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hci_dev_reset INDEX\n");
    return 2;
  }
  const int fd = ::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, protocol_hci);
  if (fd < 0 || ::ioctl(fd, device_reset, std::atoi(argv[1])) != 0) {
    std::fprintf(stderr, "hci_dev_reset: %s\n", std::strerror(errno));
    return 1;
  }
  ::close(fd);
  return 0;
}
