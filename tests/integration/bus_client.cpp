#include "tests/integration/bus_client.hpp"

#include <algorithm>
#include <stdexcept>

#include "dbus/arg_type.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"

namespace integration {
namespace {

dbus::Message method_call(const std::string& to, const char* interface, const char* member) {
  return dbus::Message::method_call(dbus::BusName::from_text(to).value(), dbus::BusPath::from_constant(service_path),
                                    dbus::InterfaceName::from_constant(interface),
                                    dbus::MemberName::from_constant(member));
}

dbus::Message properties_call(const std::string& to, const char* member) {
  return method_call(to, "org.freedesktop.DBus.Properties", member);
}

std::string describe_values(dbus::MessageReader& reader, std::string_view separator);

// One value at the cursor, which it passes unless it is of a type described by its code alone.
std::string describe_value(dbus::MessageReader& reader) {
  switch (reader.current_type()) {
    case dbus::ArgType::int32: return "i " + std::to_string(*reader.read_int32());
    case dbus::ArgType::uint32: return "u " + std::to_string(*reader.read_uint32());
    case dbus::ArgType::string: return "s " + *reader.read_string();
    case dbus::ArgType::variant: {
      auto inner = reader.enter_variant();
      return describe_value(*inner);
    }
    case dbus::ArgType::array: {
      auto element = reader.enter_array();
      return "[" + describe_values(*element, ", ") + "]";
    }
    case dbus::ArgType::dict_entry: {
      auto entry = reader.enter_dict_entry();
      std::string key = entry->read_string().value_or("");
      return key + "=" + describe_value(*entry);
    }
    default: return "type " + std::string(1, static_cast<char>(reader.current_type()));
  }
}

// Values up to the end or up to one the cursor cannot pass.
std::string describe_values(dbus::MessageReader& reader, std::string_view separator) {
  std::string text;
  for (bool first = true; reader.current_type() != dbus::ArgType::nothing; first = false) {
    if (!first) text += separator;
    const std::uint32_t at = reader.position();
    text += describe_value(reader);
    if (reader.position() == at) break;
  }
  return text;
}

std::string describe_arguments(const dbus::Message& message) {
  dbus::MessageReader reader(message);
  if (reader.current_type() == dbus::ArgType::nothing) return "()";
  return describe_values(reader, "; ");
}

}  // namespace

dbus::BusConnection connect(const std::string& address) {
  auto connection = dbus::BusConnection::open(address);
  if (!connection) throw std::runtime_error("connect: " + connection.error().text());
  return std::move(*connection);
}

BusClient::BusClient(const harness::PrivateBus& bus) : connection_(connect(bus.address())) {
  connection_.add_receiver({}, [this](dbus::Message message, dbus::BusConnection&) {
    backlog_.push_back(std::move(message));
    return true;
  });
  // The daemon greets every new connection with NameAcquired for its unique name; take it out of
  // the way so that tests see only what they caused.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    dbus::Message greeting = next(100ms);
    if (greeting && greeting.type() == dbus::MessageType::signal && greeting.interface() == "org.freedesktop.DBus" &&
        greeting.member() == "NameAcquired") {
      return;
    }
    if (greeting) backlog_.push_back(std::move(greeting));
  }
}

std::string BusClient::unique_name() const { return std::string(connection_.unique_name()); }

void BusClient::add_match(const std::string& rule) {
  const auto added = connection_.call_daemon(dbus::MemberName::from_constant("AddMatch"), {rule}, 25s);
  if (!added) throw std::runtime_error("add_match: " + added.error().text());
}

std::uint32_t BusClient::send(dbus::Message& message) {
  connection_.send(message);
  // The connection numbers the message as it queues it.
  if (message.serial() == 0) throw std::runtime_error("send");
  return message.serial();
}

dbus::Message BusClient::next(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (backlog_.empty()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) return {};
    if (!connection_.process_one(std::min(left, 100ms))) return {};
  }
  dbus::Message kept = std::move(backlog_.front());
  backlog_.pop_front();
  return kept;
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
    if (incoming.reply_serial() == serial) {
      keep_others();
      return incoming;
    }
    before->push_back(std::move(incoming));
  }
  keep_others();
  return {};
}

std::uint32_t BusClient::request_name(const std::string& name, std::uint32_t flags) {
  const auto reply = connection_.request_name(dbus::BusName::from_text(name).value(), flags);
  if (!reply) throw std::runtime_error("RequestName: " + reply.error().text());
  return *reply;
}

std::vector<std::string> BusClient::queued_owners(const std::string& name) {
  dbus::Message request = dbus::Message::method_call(
      dbus::BusName::from_constant("org.freedesktop.DBus"), dbus::BusPath::from_constant("/org/freedesktop/DBus"),
      dbus::InterfaceName::from_constant("org.freedesktop.DBus"), dbus::MemberName::from_constant("ListQueuedOwners"));
  dbus::MessageWriter(request).append_string(name);
  dbus::Message reply = call(request);
  std::vector<std::string> owners;
  if (!reply || reply.type() != dbus::MessageType::method_return) return owners;
  auto element = dbus::MessageReader(reply).enter_array();
  while (element) {
    auto owner = element->read_string();
    if (!owner) break;
    owners.push_back(std::move(*owner));
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
  switch (message.type()) {
    case dbus::MessageType::error: {
      const auto text = dbus::MessageReader(message).read_string();
      return "error " + std::string(message.error_name().value_or("")) + ": " + text.value_or("");
    }
    case dbus::MessageType::signal:
      return "signal " + std::string(message.member().value_or("")) + ": " + describe_arguments(message);
    default: return describe_arguments(message);
  }
}

std::optional<std::int32_t> changed_range(const dbus::Message& message) {
  if (!message || message.type() != dbus::MessageType::signal) return std::nullopt;
  if (message.path() != service_path || message.interface() != "org.freedesktop.DBus.Properties" ||
      message.member() != "PropertiesChanged") {
    return std::nullopt;
  }
  const std::string text = describe(message);
  const std::string head = "signal PropertiesChanged: s " + std::string(legacy_interface) + "; [Range=i ";
  const std::string tail = "]; []";
  if (!text.starts_with(head) || !text.ends_with(tail)) return std::nullopt;
  return std::stoi(text.substr(head.size(), text.size() - head.size() - tail.size()));
}

}  // namespace integration
