#include "tests/integration/bus_client.hpp"

#include <stdexcept>

#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"

namespace integration {
namespace {

[[noreturn]] void fail(const std::string& what, DBusError& error) {
  std::string text = what + ": " + (error.message ? error.message : "unknown");
  dbus_error_free(&error);
  throw std::runtime_error(text);
}

dbus::Message method_call(const std::string& to, const char* interface, const char* member) {
  dbus::Message call = dbus::Message::adopt(dbus_message_new_method_call(to.c_str(), service_path, interface, member));
  if (!call) throw std::runtime_error("out of memory");
  return call;
}

dbus::Message properties_call(const std::string& to, const char* member) {
  return method_call(to, "org.freedesktop.DBus.Properties", member);
}

std::string describe_value(DBusMessageIter& iter) {
  switch (dbus_message_iter_get_arg_type(&iter)) {
    case DBUS_TYPE_INT32: {
      dbus_int32_t value = 0;
      dbus_message_iter_get_basic(&iter, &value);
      return "i " + std::to_string(value);
    }
    case DBUS_TYPE_UINT32: {
      dbus_uint32_t value = 0;
      dbus_message_iter_get_basic(&iter, &value);
      return "u " + std::to_string(value);
    }
    case DBUS_TYPE_STRING: {
      const char* value = nullptr;
      dbus_message_iter_get_basic(&iter, &value);
      return "s " + std::string(value);
    }
    case DBUS_TYPE_VARIANT: {
      DBusMessageIter inner;
      dbus_message_iter_recurse(&iter, &inner);
      return describe_value(inner);
    }
    case DBUS_TYPE_ARRAY: {
      DBusMessageIter element;
      dbus_message_iter_recurse(&iter, &element);
      std::string text = "[";
      for (bool first = true; dbus_message_iter_get_arg_type(&element) != DBUS_TYPE_INVALID;
           dbus_message_iter_next(&element), first = false) {
        if (!first) text += ", ";
        text += describe_value(element);
      }
      return text + "]";
    }
    case DBUS_TYPE_DICT_ENTRY: {
      DBusMessageIter entry;
      dbus_message_iter_recurse(&iter, &entry);
      const char* key = nullptr;
      dbus_message_iter_get_basic(&entry, &key);
      dbus_message_iter_next(&entry);
      return std::string(key) + "=" + describe_value(entry);
    }
    default: return "type " + std::string(1, static_cast<char>(dbus_message_iter_get_arg_type(&iter)));
  }
}

std::string describe_arguments(DBusMessage* raw) {
  DBusMessageIter args;
  if (!dbus_message_iter_init(raw, &args)) return "()";
  std::string text;
  do {
    if (!text.empty()) text += "; ";
    text += describe_value(args);
  } while (dbus_message_iter_next(&args));
  return text;
}

}  // namespace

DBusConnection* connect(const std::string& address) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* connection = dbus_connection_open_private(address.c_str(), &error);
  if (connection == nullptr) fail("connect", error);
  dbus_connection_set_exit_on_disconnect(connection, false);
  if (!dbus_bus_register(connection, &error)) {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    fail("Hello", error);
  }
  return connection;
}

BusClient::BusClient(const harness::PrivateBus& bus) : connection_(connect(bus.address())) {
  // The daemon greets every new connection with NameAcquired for its unique name; take it out of
  // the way so that tests see only what they caused.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    dbus::Message greeting = next(100ms);
    if (greeting && dbus_message_is_signal(greeting.get(), "org.freedesktop.DBus", "NameAcquired")) return;
    if (greeting) backlog_.push_back(std::move(greeting));
  }
}

BusClient::~BusClient() {
  dbus_connection_close(connection_);
  dbus_connection_unref(connection_);
}

std::string BusClient::unique_name() const { return dbus_bus_get_unique_name(connection_); }

void BusClient::add_match(const std::string& rule) {
  DBusError error;
  dbus_error_init(&error);
  dbus_bus_add_match(connection_, rule.c_str(), &error);
  if (dbus_error_is_set(&error)) fail("add_match", error);
}

std::uint32_t BusClient::send(dbus::Message& message) {
  dbus_uint32_t serial = 0;
  if (!dbus_connection_send(connection_, message.get(), &serial)) throw std::runtime_error("send");
  dbus_connection_flush(connection_);
  return serial;
}

dbus::Message BusClient::next(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  if (!backlog_.empty()) {
    dbus::Message kept = std::move(backlog_.front());
    backlog_.pop_front();
    return kept;
  }
  for (;;) {
    if (DBusMessage* popped = dbus_connection_pop_message(connection_)) return dbus::Message::adopt(popped);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) return {};
    if (!dbus_connection_read_write(connection_, static_cast<int>(std::min(left, 100ms).count()))) return {};
  }
}

dbus::Message BusClient::call(dbus::Message& message, std::vector<dbus::Message>* before,
                              std::chrono::milliseconds limit) {
  const std::uint32_t serial = send(message);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::vector<dbus::Message> others;
  const auto keep_others = [&] {
    for (auto& other : others) backlog_.push_back(std::move(other));
  };
  if (before == nullptr) before = &others;
  while (std::chrono::steady_clock::now() < deadline) {
    dbus::Message incoming =
        next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
    if (!incoming) break;
    if (dbus_message_get_reply_serial(incoming.get()) == serial) {
      keep_others();
      return incoming;
    }
    before->push_back(std::move(incoming));
  }
  keep_others();
  return {};
}

std::uint32_t BusClient::request_name(const std::string& name, std::uint32_t flags) {
  DBusError error;
  dbus_error_init(&error);
  const int reply = dbus_bus_request_name(connection_, name.c_str(), flags, &error);
  if (reply < 0) fail("RequestName", error);
  return static_cast<std::uint32_t>(reply);
}

std::vector<std::string> BusClient::queued_owners(const std::string& name) {
  dbus::Message request = dbus::Message::adopt(dbus_message_new_method_call(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListQueuedOwners"));
  const char* text = name.c_str();
  dbus_message_append_args(request.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
  dbus::Message reply = call(request);
  std::vector<std::string> owners;
  if (!reply || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_METHOD_RETURN) return owners;
  DBusMessageIter args, element;
  dbus_message_iter_init(reply.get(), &args);
  dbus_message_iter_recurse(&args, &element);
  for (; dbus_message_iter_get_arg_type(&element) == DBUS_TYPE_STRING; dbus_message_iter_next(&element)) {
    const char* owner = nullptr;
    dbus_message_iter_get_basic(&element, &owner);
    owners.emplace_back(owner);
  }
  return owners;
}

dbus::Message get_range(const std::string& to) {
  dbus::Message call = properties_call(to, "Get");
  dbus::MessageWriter args(call);
  args.append_string(legacy_interface);
  args.append_string("Range");
  return call;
}

dbus::Message get_all(const std::string& to) {
  dbus::Message call = properties_call(to, "GetAll");
  dbus::MessageWriter(call).append_string(legacy_interface);
  return call;
}

dbus::Message set_range(std::int32_t level, const std::string& to) {
  dbus::Message call = properties_call(to, "Set");
  dbus::MessageWriter args(call);
  args.append_string(legacy_interface);
  args.append_string("Range");
  args.with_variant(dbus::Signature::from_constant("i"),
                    [level](dbus::MessageWriter& value) { value.append_int32(level); });
  return call;
}

dbus::Message introspect(const std::string& to) {
  return method_call(to, "org.freedesktop.DBus.Introspectable", "Introspect");
}

std::string describe(const dbus::Message& message) {
  if (!message) return "nothing";
  DBusMessage* raw = message.get();
  switch (dbus_message_get_type(raw)) {
    case DBUS_MESSAGE_TYPE_ERROR: {
      const char* text = nullptr;
      dbus_message_get_args(raw, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
      return "error " + std::string(dbus_message_get_error_name(raw)) + ": " + (text ? text : "");
    }
    case DBUS_MESSAGE_TYPE_SIGNAL:
      return "signal " + std::string(dbus_message_get_member(raw)) + ": " + describe_arguments(raw);
    default: return describe_arguments(raw);
  }
}

std::optional<std::int32_t> changed_range(const dbus::Message& message) {
  if (!message || dbus_message_get_type(message.get()) != DBUS_MESSAGE_TYPE_SIGNAL) return std::nullopt;
  if (!dbus_message_has_path(message.get(), service_path) ||
      !dbus_message_is_signal(message.get(), "org.freedesktop.DBus.Properties", "PropertiesChanged")) {
    return std::nullopt;
  }
  const std::string text = describe(message);
  const std::string head = "signal PropertiesChanged: s " + std::string(legacy_interface) + "; [Range=i ";
  const std::string tail = "]; []";
  if (!text.starts_with(head) || !text.ends_with(tail)) return std::nullopt;
  return std::stoi(text.substr(head.size(), text.size() - head.size() - tail.size()));
}

}  // namespace integration
