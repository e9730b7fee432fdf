#pragma once
// Room for libdbus's argument cursor (DBusMessageIter) inside MessageReader and MessageWriter
// without its header. A reader or writer is made for every argument of every call, so the cursor
// lives in place rather than on the heap; its size and alignment are part of libdbus's stable
// ABI, and raw_arg_cursor.hpp checks both against the real type.
#include <cstddef>
#include <cstdint>

namespace dbus {

struct alignas(void*) ArgCursor {
  // Four pointers and ten 32-bit fields, as libdbus lays the cursor out.
  std::byte bytes[4 * sizeof(void*) + 10 * sizeof(std::uint32_t)];
};

}  // namespace dbus
