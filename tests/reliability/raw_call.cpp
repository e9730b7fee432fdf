#include "tests/reliability/raw_call.hpp"

#include <dbus/dbus.h>

#include <atomic>
#include <memory>
#include <stdexcept>

namespace reliability {
namespace {

void check(bool appended) {
  if (!appended) throw std::runtime_error("libdbus ran out of memory building a test message");
}

struct Unref {
  void operator()(DBusMessage* message) const noexcept { dbus_message_unref(message); }
};
using RawMessage = std::unique_ptr<DBusMessage, Unref>;

RawMessage created(DBusMessage* message) {
  if (message == nullptr) throw std::runtime_error("libdbus refused the test message");
  return RawMessage(message);
}

// Unique across the test's threads; a connection starts its own count at 1.
std::uint32_t next_serial() {
  static std::atomic<std::uint32_t> serial{1u << 30};
  return serial++;
}

// Numbered, then handed over as the bytes a client would send.
dbus::Message handed_over(const RawMessage& raw) {
  dbus_message_set_serial(raw.get(), next_serial());
  char* bytes = nullptr;
  int length = 0;
  check(dbus_message_marshal(raw.get(), &bytes, &length));
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  auto message = dbus::Message::from_wire(std::string_view(bytes, static_cast<std::size_t>(length)));
  if (!message) throw std::runtime_error("the test message did not survive its bytes: " + message.error().text());
  return std::move(*message);
}

}  // namespace

Append string_arg(std::string text) {
  return [text = std::move(text)](DBusMessageIter& iter) {
    const char* raw = text.c_str();
    check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &raw));
  };
}

Append int32_arg(std::int32_t value) {
  return [value](DBusMessageIter& iter) {
    const dbus_int32_t raw = value;
    check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_INT32, &raw));
  };
}

Append byte_arg(std::uint8_t value) {
  return [value](DBusMessageIter& iter) {
    const unsigned char raw = value;
    check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_BYTE, &raw));
  };
}

Append uint32_arg(std::uint32_t value) {
  return [value](DBusMessageIter& iter) {
    const dbus_uint32_t raw = value;
    check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_UINT32, &raw));
  };
}

Append object_path_arg(std::string path) {
  return [path = std::move(path)](DBusMessageIter& iter) {
    const char* raw = path.c_str();
    check(dbus_message_iter_append_basic(&iter, DBUS_TYPE_OBJECT_PATH, &raw));
  };
}

Append variant_arg(const char* signature, Append inner) {
  return [signature, inner = std::move(inner)](DBusMessageIter& iter) {
    DBusMessageIter variant;
    check(dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, signature, &variant));
    inner(variant);
    check(dbus_message_iter_close_container(&iter, &variant));
  };
}

Append string_array_arg(std::vector<std::string> items) {
  return [items = std::move(items)](DBusMessageIter& iter) {
    DBusMessageIter array;
    check(dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "s", &array));
    for (const auto& item : items) string_arg(item)(array);
    check(dbus_message_iter_close_container(&iter, &array));
  };
}

dbus::Message raw_call(const CallShape& shape) {
  const RawMessage call =
      created(dbus_message_new_method_call(shape.destination.c_str(), shape.path.c_str(),
                                           shape.interface ? shape.interface->c_str() : nullptr, shape.member.c_str()));
  DBusMessageIter iter;
  dbus_message_iter_init_append(call.get(), &iter);
  for (const auto& append : shape.args) append(iter);
  return handed_over(call);
}

dbus::Message raw_message(int type, const CallShape& shape) {
  const RawMessage message = created(dbus_message_new(type));
  check(dbus_message_set_destination(message.get(), shape.destination.c_str()));
  check(dbus_message_set_path(message.get(), shape.path.c_str()));
  if (shape.interface) check(dbus_message_set_interface(message.get(), shape.interface->c_str()));
  check(dbus_message_set_member(message.get(), shape.member.c_str()));
  return handed_over(message);
}

dbus::Message raw_signal(const std::string& destination, const std::string& interface, const std::string& member) {
  const RawMessage signal = created(dbus_message_new_signal("/com/orbo/Flood", interface.c_str(), member.c_str()));
  if (!dbus_message_set_destination(signal.get(), destination.c_str())) {
    throw std::runtime_error("libdbus refused the test signal");
  }
  return handed_over(signal);
}

std::string shortened(const std::string& text) {
  if (text.size() <= 300) return text;
  return text.substr(0, 120) + "...(" + std::to_string(text.size()) + " bytes)..." + text.substr(text.size() - 120);
}

}  // namespace reliability
