#pragma once
// The two unrecoverable paths of the bus layer: libdbus out of memory and a broken invariant.
#include <string_view>

namespace dbus {

// Writes the message and a line feed to standard error and aborts at once.
[[noreturn]] void fatal(std::string_view message) noexcept;

// Calls dbus_threads_init_default exactly once per process, before the first libdbus use.
// Safe when two threads reach it together.
void ensure_library_initialised() noexcept;

}  // namespace dbus
