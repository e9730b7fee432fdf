#include "dbus/bus_connection.hpp"

namespace bus {
namespace {

// An unset criterion matches anything; a set one needs the header field present and equal.
bool field_matches(const std::optional<std::string>& wanted, std::optional<std::string_view> field) noexcept {
  return !wanted || (field && *field == *wanted);
}

}  // namespace

bool MatchRule::matches(const Message& message) const noexcept {
  return (!type || message.type() == *type) && field_matches(sender, message.sender()) &&
         field_matches(path, message.path()) && field_matches(interface, message.interface()) &&
         field_matches(member, message.member());
}

}  // namespace bus
