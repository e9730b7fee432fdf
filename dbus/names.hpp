#pragma once
// Validated bus names. A value of one of these types always passed libdbus's own check.
#include <compare>
#include <expected>
#include <ostream>
#include <string>
#include <string_view>

namespace dbus {

// The longest bus, interface, member or error name the protocol allows, in bytes.
inline constexpr std::size_t maximum_name_length = 255;
// The DOCTYPE line of every introspection document, line feed included.
std::string_view introspection_doctype() noexcept;

// One check per name kind: the libdbus validator and the label used in fatal texts.
struct BusNameCheck;
struct BusPathCheck;
struct InterfaceNameCheck;
struct MemberNameCheck;
struct ErrorNameCheck;
struct SignatureCheck;

template <class Check>
class ValidName {
 public:
  // From outside input: the name, or libdbus's own message for why it is not one.
  static std::expected<ValidName, std::string> from_text(std::string_view text);
  // Only whether `text` is such a name, with libdbus's own message when not; builds nothing, so
  // a request can check a name it only looks up.
  static std::expected<void, std::string> check(std::string_view text);
  // From the service's own constants: a failed check is a broken invariant and fatal.
  static ValidName from_constant(std::string_view text) noexcept;

  // NUL-terminated, ready for libdbus.
  const char* c_str() const noexcept { return text_.c_str(); }
  std::string_view view() const noexcept { return text_; }
  const std::string& str() const noexcept { return text_; }

  friend bool operator==(const ValidName& a, const ValidName& b) noexcept { return a.text_ == b.text_; }
  friend std::strong_ordering operator<=>(const ValidName& a, const ValidName& b) noexcept {
    return a.text_.compare(b.text_) <=> 0;
  }
  friend std::ostream& operator<<(std::ostream& out, const ValidName& name) { return out << name.text_; }

 private:
  explicit ValidName(std::string text) : text_(std::move(text)) {}
  std::string text_;  // without the trailing NUL; c_str() supplies it
};

using BusName = ValidName<BusNameCheck>;
using BusPath = ValidName<BusPathCheck>;
using InterfaceName = ValidName<InterfaceNameCheck>;
using MemberName = ValidName<MemberNameCheck>;
using ErrorName = ValidName<ErrorNameCheck>;
using Signature = ValidName<SignatureCheck>;  // exactly one complete type

// The standard error names this system answers with or tells apart, as libdbus spells them;
// each is checked once, on first use.
namespace standard_error {
const ErrorName& failed();
const ErrorName& invalid_args();
const ErrorName& access_denied();
const ErrorName& unknown_method();
const ErrorName& unknown_interface();
const ErrorName& unknown_property();
const ErrorName& property_read_only();
// What the bus daemon answers for a call to a name nobody owns.
const ErrorName& service_unknown();
const ErrorName& name_has_no_owner();
// A call whose reply did not come in time, and one whose connection went before it came.
const ErrorName& no_reply();
const ErrorName& disconnected();
}  // namespace standard_error

extern template class ValidName<BusNameCheck>;
extern template class ValidName<BusPathCheck>;
extern template class ValidName<InterfaceNameCheck>;
extern template class ValidName<MemberNameCheck>;
extern template class ValidName<ErrorNameCheck>;
extern template class ValidName<SignatureCheck>;

}  // namespace dbus
