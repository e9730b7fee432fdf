#include "tests/reliability/raw_call.hpp"

#include <stdexcept>

namespace reliability {
namespace {

void check(bool appended) {
  if (!appended) throw std::runtime_error("libdbus ran out of memory building a test message");
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
  dbus::Message call = dbus::Message::adopt(
      dbus_message_new_method_call(shape.destination.c_str(), shape.path.c_str(),
                                   shape.interface ? shape.interface->c_str() : nullptr, shape.member.c_str()));
  if (!call) throw std::runtime_error("libdbus refused the test call");
  DBusMessageIter iter;
  dbus_message_iter_init_append(call.get(), &iter);
  for (const auto& append : shape.args) append(iter);
  return call;
}

dbus::Message raw_signal(const std::string& destination, const std::string& interface, const std::string& member) {
  dbus::Message signal =
      dbus::Message::adopt(dbus_message_new_signal("/com/orbo/Flood", interface.c_str(), member.c_str()));
  if (!signal || !dbus_message_set_destination(signal.get(), destination.c_str())) {
    throw std::runtime_error("libdbus refused the test signal");
  }
  return signal;
}

std::string shortened(const std::string& text) {
  if (text.size() <= 300) return text;
  return text.substr(0, 120) + "...(" + std::to_string(text.size()) + " bytes)..." + text.substr(text.size() - 120);
}

}  // namespace reliability
