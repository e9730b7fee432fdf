#include "dbus/names.hpp"

#include <dbus/dbus.h>

#include <string>

#include "dbus/fatal.hpp"

namespace bus {

struct BusNameCheck {
  static constexpr std::string_view label = "Bus name";
  static dbus_bool_t validate(const char* text, DBusError* error) { return dbus_validate_bus_name(text, error); }
};
struct BusPathCheck {
  static constexpr std::string_view label = "Object path";
  static dbus_bool_t validate(const char* text, DBusError* error) { return dbus_validate_path(text, error); }
};
struct InterfaceNameCheck {
  static constexpr std::string_view label = "Interface name";
  static dbus_bool_t validate(const char* text, DBusError* error) { return dbus_validate_interface(text, error); }
};
struct MemberNameCheck {
  static constexpr std::string_view label = "Member name";
  static dbus_bool_t validate(const char* text, DBusError* error) { return dbus_validate_member(text, error); }
};
struct ErrorNameCheck {
  static constexpr std::string_view label = "Error name";
  static dbus_bool_t validate(const char* text, DBusError* error) { return dbus_validate_error_name(text, error); }
};
struct SignatureCheck {
  static constexpr std::string_view label = "Signature";
  // A dict entry is a complete type only as an array's element, and that is the one place a
  // writer names it ("{sv}"), so it is checked as that array.
  static dbus_bool_t validate(const char* text, DBusError* error) {
    if (text[0] == DBUS_DICT_ENTRY_BEGIN_CHAR) {
      return dbus_signature_validate_single((DBUS_TYPE_ARRAY_AS_STRING + std::string(text)).c_str(), error);
    }
    return dbus_signature_validate_single(text, error);
  }
};

namespace {

// libdbus reads names up to the first NUL, so an inner one would let a valid prefix vouch for
// the rest; such text is refused before libdbus sees it.
template <class Check>
std::expected<std::string, std::string> check_name(std::string_view text) {
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  if (text.find('\0') != std::string_view::npos) {
    return std::unexpected(std::string(Check::label) + " contains a NUL byte");
  }
  std::string owned(text);
  ensure_library_initialised();
  DBusError record;
  dbus_error_init(&record);
  if (Check::validate(owned.c_str(), &record)) return owned;
  std::string reason = record.message != nullptr ? record.message : "";
  dbus_error_free(&record);
  return std::unexpected(std::move(reason));
}

}  // namespace

template <class Check>
std::expected<ValidName<Check>, std::string> ValidName<Check>::from_text(std::string_view text) {
  auto checked = check_name<Check>(text);
  if (!checked) return std::unexpected(std::move(checked.error()));
  return ValidName(std::move(*checked));
}

template <class Check>
ValidName<Check> ValidName<Check>::from_constant(std::string_view text) noexcept {
  auto checked = check_name<Check>(text);
  if (!checked) fatal("Invalid D-Bus name constant: " + checked.error());
  return ValidName(std::move(*checked));
}

template class ValidName<BusNameCheck>;
template class ValidName<BusPathCheck>;
template class ValidName<InterfaceNameCheck>;
template class ValidName<MemberNameCheck>;
template class ValidName<ErrorNameCheck>;
template class ValidName<SignatureCheck>;

}  // namespace bus
