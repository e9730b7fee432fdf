#include "dbus/names.hpp"

#include <dbus/dbus.h>

#include <array>
#include <string>

#include "dbus/error_record.hpp"
#include "dbus/fatal.hpp"

namespace dbus {

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
      std::string array = DBUS_TYPE_ARRAY_AS_STRING;
      array += text;
      return dbus_signature_validate_single(array.c_str(), error);
    }
    return dbus_signature_validate_single(text, error);
  }
};

namespace {

// libdbus reads names up to the first NUL, so an inner one would let a valid prefix vouch for
// the rest; such text is refused before libdbus sees it. One trailing NUL is not part of the name.
template <class Check>
std::expected<std::string_view, std::string> without_nul(std::string_view text) {
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  if (text.find('\0') != std::string_view::npos) {
    return std::unexpected(std::string(Check::label) + " contains a NUL byte");
  }
  return text;
}

template <class Check>
std::expected<void, std::string> validate(const char* text) {
  ensure_library_initialised();
  ErrorRecord record;
  if (Check::validate(text, record.out())) return {};
  return std::unexpected(std::string(record.message()));
}

template <class Check>
std::expected<std::string, std::string> check_name(std::string_view text) {
  auto name = without_nul<Check>(text);
  if (!name) return std::unexpected(std::move(name.error()));
  std::string owned(*name);
  if (auto valid = validate<Check>(owned.c_str()); !valid) return std::unexpected(std::move(valid.error()));
  return owned;
}

}  // namespace

template <class Check>
std::expected<ValidName<Check>, std::string> ValidName<Check>::from_text(std::string_view text) {
  auto checked = check_name<Check>(text);
  if (!checked) return std::unexpected(std::move(checked.error()));
  return ValidName(std::move(*checked));
}

template <class Check>
std::expected<void, std::string> ValidName<Check>::check(std::string_view text) {
  auto name = without_nul<Check>(text);
  if (!name) return std::unexpected(std::move(name.error()));
  // Names other than paths are at most DBUS_MAXIMUM_NAME_LENGTH bytes, so the usual text gains
  // its NUL in a copy on the stack; longer text (a long path, or a name that fails anyway) is
  // copied to the heap.
  std::array<char, DBUS_MAXIMUM_NAME_LENGTH + 1> terminated;
  if (name->size() < terminated.size()) {
    name->copy(terminated.data(), name->size());
    terminated[name->size()] = '\0';
    return validate<Check>(terminated.data());
  }
  return validate<Check>(std::string(*name).c_str());
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

namespace standard_error {

const ErrorName& failed() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_FAILED);
  return name;
}

const ErrorName& invalid_args() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_INVALID_ARGS);
  return name;
}

const ErrorName& access_denied() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_ACCESS_DENIED);
  return name;
}

const ErrorName& unknown_method() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_UNKNOWN_METHOD);
  return name;
}

const ErrorName& unknown_interface() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_UNKNOWN_INTERFACE);
  return name;
}

const ErrorName& unknown_property() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_UNKNOWN_PROPERTY);
  return name;
}

const ErrorName& property_read_only() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_PROPERTY_READ_ONLY);
  return name;
}

const ErrorName& service_unknown() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_SERVICE_UNKNOWN);
  return name;
}

const ErrorName& name_has_no_owner() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_NAME_HAS_NO_OWNER);
  return name;
}

const ErrorName& no_reply() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_NO_REPLY);
  return name;
}

const ErrorName& disconnected() {
  static const ErrorName name = ErrorName::from_constant(DBUS_ERROR_DISCONNECTED);
  return name;
}

}  // namespace standard_error

static_assert(maximum_name_length == DBUS_MAXIMUM_NAME_LENGTH);

std::string_view introspection_doctype() noexcept {
  // Not DBUS_INTROSPECT_1_0_XML_DOCTYPE_DECL_NODE: it breaks the line between the identifiers.
  static constexpr std::string_view doctype = "<!DOCTYPE node PUBLIC \"" DBUS_INTROSPECT_1_0_XML_PUBLIC_IDENTIFIER
                                              "\" \"" DBUS_INTROSPECT_1_0_XML_SYSTEM_IDENTIFIER "\">\n";
  return doctype;
}

}  // namespace dbus
