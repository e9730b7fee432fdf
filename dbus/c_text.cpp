#include "dbus/c_text.hpp"

#include "dbus/utf8.hpp"

namespace dbus {

CText::CText(std::string_view text) {
  if (!text.empty() && text.back() == '\0' && is_utf8(text)) {
    borrowed_ = text.data();
  } else {
    copy_ = repair_utf8(text);
  }
}

}  // namespace dbus
