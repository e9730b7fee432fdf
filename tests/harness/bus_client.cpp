#include "tests/harness/bus_client.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "dbus/message_reader.hpp"
#include "dbus/names.hpp"

namespace harness {

dbus::BusConnection connect(const std::string& address) {
  auto connection = dbus::BusConnection::open(address);
  if (!connection) throw std::runtime_error("connect: " + connection.error().text());
  return std::move(*connection);
}

BusClient::BusClient(const PrivateBus& bus) : connection_(connect(bus.address())) {
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
  // The connection numbers the message as it queues it, unless its sender already has.
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
  return daemon_list("ListQueuedOwners", {args::s(name)});
}

std::vector<std::string> BusClient::names() { return daemon_list("ListNames", {}); }

std::vector<std::string> BusClient::daemon_list(const char* member, std::vector<Arg> arguments) {
  dbus::Message request = build({.destination = "org.freedesktop.DBus",
                                 .path = "/org/freedesktop/DBus",
                                 .interface = "org.freedesktop.DBus",
                                 .member = member,
                                 .args = std::move(arguments)});
  dbus::Message reply = call(request);
  std::vector<std::string> names;
  if (!reply || reply.type() != dbus::MessageType::method_return) return names;
  auto element = dbus::MessageReader(reply).enter_array();
  while (element) {
    auto name = element->read_string();
    if (!name) break;
    names.push_back(std::move(*name));
  }
  return names;
}

}  // namespace harness
