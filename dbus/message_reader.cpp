#include "dbus/message_reader.hpp"

#include <string_view>

#include "dbus/fatal.hpp"
#include "dbus/raw_arg_cursor.hpp"
#include "dbus/raw_message.hpp"
#include "text/utf8.hpp"

namespace dbus {

MessageReader::MessageReader(const Message& message) noexcept {
  // The result only says whether there are arguments; an empty message shows ArgType::nothing.
  dbus_message_iter_init(RawMessage::get(message), new_iter(iter_));
}

ArgType MessageReader::current_type() const noexcept {
  // libdbus takes the iterator by non-const pointer even for this query.
  auto& cursor = const_cast<ArgCursor&>(iter_);
  return arg_type_from_code(dbus_message_iter_get_arg_type(iter(cursor)));
}

std::string MessageReader::current_signature() const {
  auto& cursor = const_cast<ArgCursor&>(iter_);
  char* raw = dbus_message_iter_get_signature(iter(cursor));
  if (raw == nullptr) fatal("D-Bus error: 'dbus_message_iter_get_signature' failed");
  std::string signature(raw);
  dbus_free(raw);
  return signature;
}

std::expected<std::string, TypeMismatch> MessageReader::read_string() {
  auto text = read_string_view();
  if (!text) return std::unexpected(text.error());
  return std::string(*text);
}

std::expected<std::string_view, TypeMismatch> MessageReader::read_string_view() {
  const ArgType found = current_type();
  if (found != ArgType::string) return std::unexpected(TypeMismatch{ArgType::string, found, position_});
  const char* text = nullptr;
  dbus_message_iter_get_basic(iter(iter_), &text);
  // libdbus validated every string of the message when it arrived or was built; the check stays
  // as a cheap guard, since the fast path for ASCII is a few word tests.
  if (text == nullptr) return std::unexpected(TypeMismatch{ArgType::string, ArgType::string, position_});
  const std::string_view view(text);
  if (!text::is_utf8(view)) return std::unexpected(TypeMismatch{ArgType::string, ArgType::string, position_});
  dbus_message_iter_next(iter(iter_));
  ++position_;
  return view;
}

std::expected<std::int32_t, TypeMismatch> MessageReader::read_int32() {
  const ArgType found = current_type();
  if (found != ArgType::int32) return std::unexpected(TypeMismatch{ArgType::int32, found, position_});
  dbus_int32_t value = 0;
  dbus_message_iter_get_basic(iter(iter_), &value);
  dbus_message_iter_next(iter(iter_));
  ++position_;
  return value;
}

std::expected<std::uint32_t, TypeMismatch> MessageReader::read_uint32() {
  const ArgType found = current_type();
  if (found != ArgType::uint32) return std::unexpected(TypeMismatch{ArgType::uint32, found, position_});
  dbus_uint32_t value = 0;
  dbus_message_iter_get_basic(iter(iter_), &value);
  dbus_message_iter_next(iter(iter_));
  ++position_;
  return value;
}

std::optional<MessageReader> MessageReader::enter_variant() { return enter(ArgType::variant); }
std::optional<MessageReader> MessageReader::enter_array() { return enter(ArgType::array); }
std::optional<MessageReader> MessageReader::enter_dict_entry() { return enter(ArgType::dict_entry); }

std::optional<MessageReader> MessageReader::enter(ArgType container) {
  if (current_type() != container) return std::nullopt;
  MessageReader content;
  dbus_message_iter_recurse(iter(iter_), new_iter(content.iter_));
  dbus_message_iter_next(iter(iter_));
  ++position_;
  return content;
}

}  // namespace dbus
