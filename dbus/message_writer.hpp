#pragma once
// An append cursor over a message under construction, and the C strings it hands to libdbus.
// Every failed append is fatal.
#include <cstdint>
#include <string>
#include <string_view>

#include "dbus/arg_cursor.hpp"
#include "dbus/message.hpp"
#include "dbus/names.hpp"

namespace dbus {

// Text handed to libdbus as a C string: NUL-terminated and well-formed UTF-8.
class CText {
 public:
  // Text that already ends in NUL and is well-formed is used in place; any other is copied once,
  // malformed sequences replaced by U+FFFD (libdbus would abort on them). The view must outlive this.
  explicit CText(std::string_view text);

  CText(const CText&) = delete;
  CText& operator=(const CText&) = delete;

  const char* c_str() const noexcept { return borrowed_ != nullptr ? borrowed_ : copy_.c_str(); }
  bool copied() const noexcept { return borrowed_ == nullptr; }

 private:
  const char* borrowed_ = nullptr;
  std::string copy_;
};

class MessageWriter {
 public:
  explicit MessageWriter(Message& message) noexcept;  // dbus_message_iter_init_append

  void append_string(std::string_view text);  // copied with a NUL unless it already ends in one
  void append_int32(std::int32_t value);
  void append_uint32(std::uint32_t value);

  // Containers: open a child writer, fill it, close it on the parent (also after a failed fill).
  MessageWriter open_variant(const Signature& contained);
  MessageWriter open_array(const Signature& element);  // e.g. "{sv}" or "s"
  MessageWriter open_dict_entry();
  void close(MessageWriter& child);

  template <class Fill>
  decltype(auto) with_variant(const Signature& contained, Fill&& fill) {
    return filled(open_variant(contained), fill);
  }
  template <class Fill>
  decltype(auto) with_array(const Signature& element, Fill&& fill) {
    return filled(open_array(element), fill);
  }
  template <class Fill>
  decltype(auto) with_dict_entry(Fill&& fill) {
    return filled(open_dict_entry(), fill);
  }

 private:
  template <class Fill>
  decltype(auto) filled(MessageWriter child, Fill& fill) {
    struct Closer {
      MessageWriter& parent;
      MessageWriter& child;
      ~Closer() { parent.close(child); }
    } closer{*this, child};
    return fill(child);
  }

  MessageWriter() noexcept = default;
  ArgCursor iter_{};
};

// The pump's GetMachineId reply: init-append, then one string.
void append_one_string(Message& message, std::string_view text);

}  // namespace dbus
