#include "dbus/message_writer.hpp"

#include <string>

#include "dbus/fatal.hpp"
#include "dbus/raw_arg_cursor.hpp"
#include "dbus/raw_message.hpp"
#include "text/utf8.hpp"

namespace dbus {
namespace {

void or_fatal(dbus_bool_t done, std::string_view function) {
  if (!done) fatal("D-Bus error: '" + std::string(function) + "' failed");
}

}  // namespace

CText::CText(std::string_view text) {
  if (!text.empty() && text.back() == '\0' && text::is_utf8(text)) {
    borrowed_ = text.data();
  } else {
    copy_ = text::repair_utf8(text);
  }
}

MessageWriter::MessageWriter(Message& message) noexcept {
  dbus_message_iter_init_append(RawMessage::get(message), new_iter(iter_));
}

void MessageWriter::append_string(std::string_view text) {
  const CText c_text(text);
  const char* pointer = c_text.c_str();
  or_fatal(dbus_message_iter_append_basic(iter(iter_), DBUS_TYPE_STRING, &pointer), "dbus_message_iter_append_basic");
}

void MessageWriter::append_int32(std::int32_t value) {
  const dbus_int32_t basic = value;
  or_fatal(dbus_message_iter_append_basic(iter(iter_), DBUS_TYPE_INT32, &basic), "dbus_message_iter_append_basic");
}

void MessageWriter::append_uint32(std::uint32_t value) {
  const dbus_uint32_t basic = value;
  or_fatal(dbus_message_iter_append_basic(iter(iter_), DBUS_TYPE_UINT32, &basic), "dbus_message_iter_append_basic");
}

MessageWriter MessageWriter::open_variant(const Signature& contained) {
  MessageWriter child;
  or_fatal(dbus_message_iter_open_container(iter(iter_), DBUS_TYPE_VARIANT, contained.c_str(), new_iter(child.iter_)),
           "dbus_message_iter_open_container");
  return child;
}

MessageWriter MessageWriter::open_array(const Signature& element) {
  MessageWriter child;
  or_fatal(dbus_message_iter_open_container(iter(iter_), DBUS_TYPE_ARRAY, element.c_str(), new_iter(child.iter_)),
           "dbus_message_iter_open_container");
  return child;
}

MessageWriter MessageWriter::open_dict_entry() {
  MessageWriter child;
  or_fatal(dbus_message_iter_open_container(iter(iter_), DBUS_TYPE_DICT_ENTRY, nullptr, new_iter(child.iter_)),
           "dbus_message_iter_open_container");
  return child;
}

void MessageWriter::close(MessageWriter& child) {
  or_fatal(dbus_message_iter_close_container(iter(iter_), iter(child.iter_)), "dbus_message_iter_close_container");
}

void append_one_string(Message& message, std::string_view text) { MessageWriter(message).append_string(text); }

}  // namespace dbus
