#pragma once
// Text handed to libdbus as a C string: NUL-terminated and well-formed UTF-8.
#include <string>
#include <string_view>

namespace dbus {

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

}  // namespace dbus
