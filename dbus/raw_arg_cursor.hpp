#pragma once
// The libdbus cursor inside an ArgCursor. For the bus layer's own files only.
#include <dbus/dbus.h>

#include <new>
#include <type_traits>

#include "dbus/arg_cursor.hpp"

namespace dbus {

static_assert(sizeof(DBusMessageIter) == sizeof(ArgCursor), "libdbus's cursor no longer fits ArgCursor");
static_assert(alignof(DBusMessageIter) <= alignof(ArgCursor), "libdbus's cursor needs a stricter alignment");
static_assert(std::is_trivially_copyable_v<DBusMessageIter>, "copying a reader copies its cursor byte by byte");

// Starts a cursor's life in `cursor`, for libdbus to fill in.
inline DBusMessageIter* new_iter(ArgCursor& cursor) noexcept { return new (cursor.bytes) DBusMessageIter{}; }

inline DBusMessageIter* iter(ArgCursor& cursor) noexcept {
  return std::launder(reinterpret_cast<DBusMessageIter*>(cursor.bytes));
}

}  // namespace dbus
