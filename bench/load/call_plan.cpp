#include "bench/load/call_plan.hpp"

#include <cstring>
#include <string_view>

namespace bench {

namespace {

constexpr const char* service_name = "com.orbo.RIDEviva";
constexpr const char* object_path = "/com/orbo/RIDEviva";
constexpr const char* range_interface = "com.orbo.Configuration.Legacy";
constexpr const char* range_property = "Range";
constexpr const char* properties_interface = DBUS_INTERFACE_PROPERTIES;
constexpr const char* introspectable_interface = DBUS_INTERFACE_INTROSPECTABLE;

MessageRef method_call(const char* destination, const char* path, const char* interface, const char* member) {
  MessageRef call{dbus_message_new_method_call(destination, path, interface, member)};
  if (!call) out_of_memory("dbus_message_new_method_call");
  return call;
}

void append_string(DBusMessageIter& args, const char* text) {
  if (!dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &text)) out_of_memory("dbus_message_iter_append_basic");
}

void append_int32_variant(DBusMessageIter& args, std::int32_t value) {
  DBusMessageIter variant;
  if (!dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, DBUS_TYPE_INT32_AS_STRING, &variant))
    out_of_memory("dbus_message_iter_open_container");
  if (!dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &value))
    out_of_memory("dbus_message_iter_append_basic");
  if (!dbus_message_iter_close_container(&args, &variant)) out_of_memory("dbus_message_iter_close_container");
}

MessageRef properties_call(const char* member) {
  MessageRef call = method_call(service_name, object_path, properties_interface, member);
  DBusMessageIter args;
  dbus_message_iter_init_append(call.get(), &args);
  append_string(args, range_interface);
  return call;
}

std::string text_of(const char* text) { return text ? text : "(none)"; }

// An error reply, or a method return whose signature is not the expected one.
std::expected<void, std::string> check_return(DBusMessage* reply, const char* signature) {
  if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR) {
    const char* message = nullptr;
    DBusMessageIter args;
    if (dbus_message_iter_init(reply, &args) && dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_STRING)
      dbus_message_iter_get_basic(&args, &message);
    return std::unexpected("error reply " + text_of(dbus_message_get_error_name(reply)) + ": " + text_of(message));
  }
  if (dbus_message_get_type(reply) != DBUS_MESSAGE_TYPE_METHOD_RETURN)
    return std::unexpected(std::string("reply is neither a method return nor an error"));
  const char* actual = dbus_message_get_signature(reply);
  if (std::strcmp(actual, signature) != 0)
    return std::unexpected("reply signature \"" + std::string(actual) + "\", expected \"" + signature + "\"");
  return {};
}

std::string first_string(DBusMessage* reply) {
  DBusMessageIter args;
  const char* text = "";
  dbus_message_iter_init(reply, &args);
  dbus_message_iter_get_basic(&args, &text);
  return text;
}

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

MessageRef CallPlan::request(std::uint64_t index) const {
  switch (kind_) {
    case CallKind::get: {
      MessageRef call = properties_call("Get");
      DBusMessageIter args;
      dbus_message_iter_init_append(call.get(), &args);
      append_string(args, range_property);
      return call;
    }
    case CallKind::get_all: return properties_call("GetAll");
    case CallKind::set: {
      MessageRef call = properties_call("Set");
      DBusMessageIter args;
      dbus_message_iter_init_append(call.get(), &args);
      append_string(args, range_property);
      append_int32_variant(args, set_levels_[index % set_levels_.size()]);
      return call;
    }
    case CallKind::introspect: return method_call(service_name, object_path, introspectable_interface, "Introspect");
    case CallKind::get_id: return method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetId");
  }
  return {};
}

std::expected<void, std::string> CallPlan::check(DBusMessage* reply) {
  switch (kind_) {
    case CallKind::get: return check_get(reply);
    case CallKind::get_all: return check_get_all(reply);
    case CallKind::set: return check_set(reply);
    case CallKind::introspect: return check_same_text(reply, plausible_introspection, "introspection document");
    case CallKind::get_id: return check_same_text(reply, plausible_bus_id, "bus id");
  }
  return std::unexpected(std::string("unknown call kind"));
}

std::expected<void, std::string> CallPlan::check_range_variant(DBusMessageIter& variant) const {
  DBusMessageIter value;
  dbus_message_iter_recurse(&variant, &value);
  if (dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_INT32)
    return std::unexpected(std::string("Range is not a variant holding an INT32"));
  std::int32_t range = 0;
  dbus_message_iter_get_basic(&value, &range);
  if (range != range_)
    return std::unexpected("Range is " + std::to_string(range) + ", expected " + std::to_string(range_));
  return {};
}

std::expected<void, std::string> CallPlan::check_get(DBusMessage* reply) const {
  if (auto shape = check_return(reply, "v"); !shape) return shape;
  DBusMessageIter args;
  dbus_message_iter_init(reply, &args);
  return check_range_variant(args);
}

std::expected<void, std::string> CallPlan::check_get_all(DBusMessage* reply) const {
  if (auto shape = check_return(reply, "a{sv}"); !shape) return shape;
  DBusMessageIter args;
  DBusMessageIter entries;
  DBusMessageIter entry;
  dbus_message_iter_init(reply, &args);
  dbus_message_iter_recurse(&args, &entries);
  if (dbus_message_iter_get_arg_type(&entries) != DBUS_TYPE_DICT_ENTRY)
    return std::unexpected(std::string("GetAll answered no properties"));
  dbus_message_iter_recurse(&entries, &entry);
  const char* name = "";
  dbus_message_iter_get_basic(&entry, &name);
  if (std::strcmp(name, range_property) != 0)
    return std::unexpected("GetAll answered the property \"" + std::string(name) + "\", expected \"Range\"");
  dbus_message_iter_next(&entry);
  if (auto range = check_range_variant(entry); !range) return range;
  if (dbus_message_iter_next(&entries)) return std::unexpected(std::string("GetAll answered more than Range"));
  return {};
}

std::expected<void, std::string> CallPlan::check_set(DBusMessage* reply) const { return check_return(reply, ""); }

std::expected<void, std::string> CallPlan::check_same_text(DBusMessage* reply, bool (*plausible)(const std::string&),
                                                           const char* what) {
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
