#pragma once
// D-Bus type codes and the words that type-mismatch texts use for them.
#include <cstdint>
#include <string>
#include <string_view>

namespace dbus {

enum class ArgType : int {
  nothing = 0,
  variant = 'v',
  array = 'a',
  structure = 'r',
  string = 's',
  dict_entry = 'e',
  object_path = 'o',
  signature = 'g',
  unix_fd = 'h',
  boolean = 'b',
  byte = 'y',
  int16 = 'n',
  int32 = 'i',
  int64 = 'x',
  uint16 = 'q',
  uint32 = 'u',
  uint64 = 't',
  double_ = 'd',
};

// "Variant", "Array/Dict", ..., "nothing".
std::string_view word(ArgType type) noexcept;

// Maps a code from dbus_message_iter_get_arg_type; an unknown code is fatal
// ("Invalid ArgType 42 (*)").
ArgType arg_type_from_code(int code) noexcept;

// A failed read: what was expected, what stood there, and how many arguments had been consumed.
struct TypeMismatch {
  ArgType expected;
  ArgType found;
  std::uint32_t position;

  // "D-Bus argument type mismatch at position 0: expected u32, found nothing"
  std::string text() const;
  friend bool operator==(const TypeMismatch&, const TypeMismatch&) = default;
};

}  // namespace dbus
