#pragma once
// A cursor over the arguments of a received message that counts what it has consumed.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "dbus/arg_cursor.hpp"
#include "dbus/arg_type.hpp"
#include "dbus/message.hpp"

namespace dbus {

class MessageReader {
 public:
  // Starts at position 0; a message without arguments shows ArgType::nothing.
  explicit MessageReader(const Message& message) noexcept;

  // A failed read leaves the cursor where it was.
  std::expected<std::string, TypeMismatch> read_string();  // valid UTF-8 only
  // The same without the copy: the view lives as long as the message.
  std::expected<std::string_view, TypeMismatch> read_string_view();
  std::expected<std::int32_t, TypeMismatch> read_int32();
  std::expected<std::uint32_t, TypeMismatch> read_uint32();

  // A reader over the content of the variant, array or dict entry at the cursor (from position
  // 0; an empty array shows ArgType::nothing), or nothing when another type stands there. The
  // outer cursor moves past the container.
  std::optional<MessageReader> enter_variant();
  std::optional<MessageReader> enter_array();
  std::optional<MessageReader> enter_dict_entry();

  ArgType current_type() const noexcept;
  // Signature of the one argument at the cursor (for a variant's content reader: the contained
  // type); Message::signature() has all of them.
  std::string current_signature() const;
  std::uint32_t position() const noexcept { return position_; }

 private:
  MessageReader() noexcept = default;
  std::optional<MessageReader> enter(ArgType container);
  ArgCursor iter_{};  // borrows the message
  std::uint32_t position_ = 0;
};

}  // namespace dbus
