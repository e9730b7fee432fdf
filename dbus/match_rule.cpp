#include "dbus/bus_connection.hpp"

namespace dbus {
namespace {

using HeaderField = std::optional<std::string_view> (Message::*)() const noexcept;

// An unset criterion matches anything; a set one needs the header field present and equal.
// The field is read only for a set criterion: each read is a libdbus header look-up.
bool field_matches(const std::optional<std::string>& wanted, const Message& message, HeaderField field) noexcept {
  if (!wanted) return true;
  const auto found = (message.*field)();
  return found && *found == *wanted;
}

}  // namespace

bool MatchRule::matches(const Message& message) const noexcept {
  return (!type || message.type() == *type) && field_matches(sender, message, &Message::sender) &&
         field_matches(path, message, &Message::path) && field_matches(interface, message, &Message::interface) &&
         field_matches(member, message, &Message::member);
}

}  // namespace dbus
