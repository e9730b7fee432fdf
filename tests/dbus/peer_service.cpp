#include "peer_service.hpp"

#include <chrono>
#include <future>
#include <stdexcept>

#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/raw_message.hpp"

namespace dbus_test {

using namespace dbus;
using namespace std::chrono_literals;

namespace {

Message answer(const Message& call) {
  const std::string member(call.member().value_or(""));
  if (member == "Describe") {
    MessageReader reader(call);
    Message reply = Message::method_return(call);
    MessageWriter writer(reply);
    writer.append_string(dbus_message_get_signature(RawMessage::get(call)));
    writer.append_string(reader.read_string().value_or(""));
    return reply;
  }
  if (member == "Refuse") {
    return Message::error_reply(call, ErrorName::from_constant("com.example.Error.Refused"), PeerService::refusal);
  }
  if (member == "Number") {
    Message reply = Message::method_return(call);
    MessageWriter(reply).append_uint32(7);
    return reply;
  }
  return Message::method_return(call);
}

}  // namespace

PeerService::PeerService() {
  std::promise<std::string> ready;
  std::future<std::string> started = ready.get_future();
  thread_ = std::thread([this, &ready] { serve(ready); });
  if (started.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    stop_ = true;
    thread_.join();
    throw std::runtime_error("peer service: did not start");
  }
  if (const std::string failure = started.get(); !failure.empty()) {
    thread_.join();
    throw std::runtime_error("peer service: " + failure);
  }
}

PeerService::~PeerService() {
  stop_ = true;
  thread_.join();
}

void PeerService::serve(std::promise<std::string>& ready) {
  auto connection = BusConnection::open_system_bus();
  if (!connection) return ready.set_value(connection.error().detailed());
  if (auto named = connection->request_name(BusName::from_constant(bus_name), 4); !named) {
    return ready.set_value(named.error().detailed());
  }
  connection->add_receiver({.type = MessageType::method_call}, [](Message call, BusConnection& bus) {
    if (call.member() != "Ignore") bus.send(answer(call));
    return true;
  });
  ready.set_value("");
  // Each step waits at most 20 ms, so a stop request is seen soon.
  while (!stop_ && connection->process_one(20ms)) {
  }
}

}  // namespace dbus_test
