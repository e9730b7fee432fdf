#include "dbus/fatal.hpp"

#include <dbus/dbus.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace dbus {

void fatal(std::string_view message) noexcept {
  // write(2) rather than stdio: nothing may allocate or lock on the way out.
  auto put = [](const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t written = ::write(STDERR_FILENO, data, size);
      if (written <= 0) return;
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  };
  put(message.data(), message.size());
  put("\n", 1);
  std::abort();
}

void ensure_library_initialised() noexcept {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!dbus_threads_init_default()) fatal("Out of memory when trying to initialize D-Bus library!");
  });
}

}  // namespace dbus
