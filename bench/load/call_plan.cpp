#include "bench/load/call_plan.hpp"

#include <optional>
#include <string_view>

#include "dbus/arg_type.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"

namespace bench {

namespace {

using dbus::ArgType;

constexpr const char* range_interface = "com.orbo.Configuration.Legacy";
constexpr const char* range_property = "Range";

// Where the calls go, each name checked once.
struct Addresses {
  dbus::BusName service = dbus::BusName::from_constant("com.orbo.RIDEviva");
  dbus::BusPath object = dbus::BusPath::from_constant("/com/orbo/RIDEviva");
  dbus::InterfaceName properties = dbus::InterfaceName::from_constant("org.freedesktop.DBus.Properties");
  dbus::InterfaceName introspectable = dbus::InterfaceName::from_constant("org.freedesktop.DBus.Introspectable");
  dbus::BusName daemon = dbus::BusName::from_constant("org.freedesktop.DBus");
  dbus::BusPath daemon_object = dbus::BusPath::from_constant("/org/freedesktop/DBus");
  dbus::InterfaceName daemon_interface = dbus::InterfaceName::from_constant("org.freedesktop.DBus");
};

const Addresses& addresses() {
  static const Addresses named;
  return named;
}

dbus::Message properties_call(const char* member) {
  const Addresses& to = addresses();
  dbus::Message call =
      dbus::Message::method_call(to.service, to.object, to.properties, dbus::MemberName::from_constant(member));
  dbus::MessageWriter(call).append_string(range_interface);
  return call;
}

std::string text_of(std::optional<std::string_view> text) { return text ? std::string(*text) : "(none)"; }

// An error reply, or a method return whose signature is not the expected one.
std::expected<void, std::string> check_return(const dbus::Message& reply, const char* signature) {
  if (reply.type() == dbus::MessageType::error) {
    dbus::MessageReader args(reply);
    std::optional<std::string_view> message;
    if (args.current_type() == ArgType::string) message = args.read_string_view().value_or("");
    return std::unexpected("error reply " + text_of(reply.error_name()) + ": " + text_of(message));
  }
  if (reply.type() != dbus::MessageType::method_return)
    return std::unexpected(std::string("reply is neither a method return nor an error"));
  const std::string_view actual = reply.signature();
  if (actual != signature)
    return std::unexpected("reply signature \"" + std::string(actual) + "\", expected \"" + signature + "\"");
  return {};
}

std::string first_string(const dbus::Message& reply) { return dbus::MessageReader(reply).read_string().value_or(""); }

}  // namespace

bool plausible_introspection(const std::string& document) {
  const std::string_view doc = document;
  return doc.starts_with("<!DOCTYPE node PUBLIC ") && doc.ends_with("</node>") &&
         doc.find("<node name=\"/com/orbo/RIDEviva\">") != std::string_view::npos &&
         doc.find("<property name=\"Range\" type=\"i\" access=\"readwrite\"/>") != std::string_view::npos;
}

bool plausible_bus_id(const std::string& id) {
  if (id.size() != 32) return false;
  for (const char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

CallPlan::CallPlan(const LoadOptions& options)
    : kind_(options.kind), range_(options.range), set_levels_(options.set_levels) {}

dbus::Message CallPlan::request(std::uint64_t index) const {
  const Addresses& to = addresses();
  switch (kind_) {
    case CallKind::get: {
      dbus::Message call = properties_call("Get");
      dbus::MessageWriter(call).append_string(range_property);
      return call;
    }
    case CallKind::get_all: return properties_call("GetAll");
    case CallKind::set: {
      dbus::Message call = properties_call("Set");
      dbus::MessageWriter args(call);
      args.append_string(range_property);
      const std::int32_t level = set_levels_[index % set_levels_.size()];
      args.with_variant(dbus::Signature::from_constant("i"),
                        [level](dbus::MessageWriter& value) { value.append_int32(level); });
      return call;
    }
    case CallKind::introspect:
      return dbus::Message::method_call(to.service, to.object, to.introspectable,
                                        dbus::MemberName::from_constant("Introspect"));
    case CallKind::get_id:
      return dbus::Message::method_call(to.daemon, to.daemon_object, to.daemon_interface,
                                        dbus::MemberName::from_constant("GetId"));
  }
  return {};
}

std::expected<void, std::string> CallPlan::check(const dbus::Message& reply) {
  switch (kind_) {
    case CallKind::get: return check_get(reply);
    case CallKind::get_all: return check_get_all(reply);
    case CallKind::set: return check_set(reply);
    case CallKind::introspect: return check_same_text(reply, plausible_introspection, "introspection document");
    case CallKind::get_id: return check_same_text(reply, plausible_bus_id, "bus id");
  }
  return std::unexpected(std::string("unknown call kind"));
}

std::expected<void, std::string> CallPlan::check_range_variant(dbus::MessageReader& args) const {
  auto value = args.enter_variant();
  const auto range = value ? value->read_int32() : std::unexpected(dbus::TypeMismatch{});
  if (!range) return std::unexpected(std::string("Range is not a variant holding an INT32"));
  if (*range != range_)
    return std::unexpected("Range is " + std::to_string(*range) + ", expected " + std::to_string(range_));
  return {};
}

std::expected<void, std::string> CallPlan::check_get(const dbus::Message& reply) const {
  if (auto shape = check_return(reply, "v"); !shape) return shape;
  dbus::MessageReader args(reply);
  return check_range_variant(args);
}

// Range must be among the properties, with the level; others may stand beside it.
std::expected<void, std::string> CallPlan::check_get_all(const dbus::Message& reply) const {
  if (auto shape = check_return(reply, "a{sv}"); !shape) return shape;
  auto entries = dbus::MessageReader(reply).enter_array();
  while (auto entry = entries->enter_dict_entry()) {
    if (entry->read_string().value_or("") == range_property) return check_range_variant(*entry);
  }
  return std::unexpected(std::string("GetAll answered no Range"));
}

std::expected<void, std::string> CallPlan::check_set(const dbus::Message& reply) const {
  return check_return(reply, "");
}

std::expected<void, std::string> CallPlan::check_same_text(const dbus::Message& reply,
                                                           bool (*plausible)(const std::string&), const char* what) {
  if (auto shape = check_return(reply, "s"); !shape) return shape;
  std::string text = first_string(reply);
  if (!reference_) {
    if (!plausible(text)) return std::unexpected(std::string("implausible ") + what + ": " + text);
    reference_ = std::move(text);
    return {};
  }
  if (text != *reference_) return std::unexpected(std::string(what) + " differs from the first reply: " + text);
  return {};
}

}  // namespace bench
