#include "bridge/bus/bridge_object.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <expected>
#include <memory>
#include <string>
#include <utility>

#include "bridge/concat.hpp"
#include "bridge/transmit_power.hpp"
#include "contract/bridge_interface.hpp"
#include "dbus/fatal.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "text/utf8.hpp"

namespace bridge {
namespace {

using std::chrono::milliseconds;

enum class FailureKind { invalid_arguments, access_denied, failed };

struct Failure {
  FailureKind kind;
  std::string message;
};

// The one place where the bridge's failures get their D-Bus error names.
const dbus::ErrorName& error_name(FailureKind kind) {
  switch (kind) {
    case FailureKind::invalid_arguments: return dbus::standard_error::invalid_args();
    case FailureKind::access_denied: return dbus::standard_error::access_denied();
    case FailureKind::failed: break;
  }
  return dbus::standard_error::failed();
}

tree::MethodError to_method_error(const Failure& failure) {
  // Messages may quote the control file or the tool, neither of which promises UTF-8.
  return {error_name(failure.kind), text::to_bus_text(failure.message)};
}

std::unexpected<Failure> fail(FailureKind kind, std::string message) {
  return std::unexpected(Failure{kind, std::move(message)});
}

// Only root and the users named on the command line; the daemon's word is the only one trusted.
// A daemon that does not answer in time says nothing about the caller: that is a failure, not
// a refusal.
std::expected<uid_t, Failure> allowed_caller(const std::expected<uid_t, CallerUnknown>& uid,
                                             const BridgeOptions& options, std::chrono::milliseconds waited) {
  if (!uid && uid.error().timed_out)
    return fail(FailureKind::failed,
                concat("Cannot identify the caller: the bus daemon did not answer within ", waited.count(), " ms"));
  if (!uid) return fail(FailureKind::access_denied, concat("Cannot identify the caller: ", uid.error().why));
  if (!is_allowed(options, *uid))
    return fail(FailureKind::access_denied, concat("User ", *uid, " may not run hcitool commands"));
  return *uid;
}

constexpr std::array roles{ArgumentRole::controller, ArgumentRole::group, ArgumentRole::command,
                           ArgumentRole::parameter};

std::expected<TransmitPower, Failure> read_command(const dbus::Message& call) {
  dbus::MessageReader reader(call);
  std::array<std::string, roles.size()> texts;
  for (std::size_t i = 0; i < roles.size(); ++i) {
    auto text = reader.read_string();
    if (text) {
      texts[i] = std::move(*text);
      continue;
    }
    const auto number = i + 1;
    if (text.error().found == dbus::ArgType::nothing)
      return fail(FailureKind::invalid_arguments, concat("Missing argument ", number, " (", role_name(roles[i]),
                                                         "): ExecuteHcitool takes four strings"));
    return fail(FailureKind::invalid_arguments, concat("Argument ", number, " (", role_name(roles[i]),
                                                       ") must be a string, found ", dbus::word(text.error().found)));
  }
  if (reader.current_type() != dbus::ArgType::nothing)
    return fail(FailureKind::invalid_arguments, "ExecuteHcitool takes four strings, and more were given");

  auto command = read_transmit_power(texts[0], texts[1], texts[2], texts[3]);
  if (!command) return fail(FailureKind::invalid_arguments, std::move(command.error()));
  return std::move(*command);
}

dbus::Message string_reply(const dbus::Message& call, std::string_view text) {
  dbus::Message reply = dbus::Message::method_return(call);
  dbus::MessageWriter(reply).append_string(text);
  return reply;
}

dbus::Message error_reply(const dbus::Message& call, const Failure& failure) {
  const tree::MethodError error = to_method_error(failure);
  return dbus::Message::error_reply(call, error.name, error.message);
}

// What the emulated controller asks the caller to be sent in place of its answer.
dbus::Message stand_in_reply(const dbus::Message& call, const StandInReply& stand_in) {
  switch (stand_in.kind) {
    case StandInReply::Kind::error: {
      if (stand_in.error_name.empty()) return error_reply(call, {FailureKind::failed, stand_in.text});
      auto name = dbus::ErrorName::from_text(stand_in.error_name);
      if (!name)
        return error_reply(
            call, {FailureKind::failed, concat("Cannot reply with error ", stand_in.error_name, ": ", name.error())});
      return dbus::Message::error_reply(call, *name, text::to_bus_text(stand_in.text));
    }
    case StandInReply::Kind::empty: return dbus::Message::method_return(call);
    case StandInReply::Kind::number: {
      dbus::Message reply = dbus::Message::method_return(call);
      dbus::MessageWriter(reply).append_uint32(7);
      return reply;
    }
    case StandInReply::Kind::text: break;
  }
  return string_reply(call, text::to_bus_text(stand_in.text));
}

dbus::Message reply_to(const dbus::Message& call, const ExchangeResult& result) {
  if (!result) return error_reply(call, {FailureKind::failed, result.error()});
  if (result->instead) return stand_in_reply(call, *result->instead);
  return string_reply(call, result->reply);
}

// The call, once the daemon has said who sent it.
void carry_out(const BridgeContext& context, const dbus::Message& call, TimePoint arrival,
               const std::expected<uid_t, CallerUnknown>& identified) {
  dbus::BusConnection* connection = context.connection;
  const auto uid = allowed_caller(identified, context.options,
                                  context.scheduler->limits().call - context.scheduler->limits().least_to_send);
  if (!uid) return connection->send(error_reply(call, uid.error()));
  auto command = read_command(call);
  if (!command) return connection->send(error_reply(call, command.error()));

  // Shared, since the answer is a copyable function; the call is kept only until it is answered.
  auto kept = std::make_shared<dbus::Message>(call.another_reference());
  context.scheduler->submit(Call{
      .command = std::move(*command),
      .remembered = is_remembered(context.options, *uid),
      .arrival = arrival,
      .answer = [connection, kept](ExchangeResult result) { connection->send(reply_to(*kept, result)); },
  });
}

tree::HandlerResult execute_hcitool(const tree::MethodContext& call) {
  const BridgeContext* context = call.object.data<BridgeContext>();
  if (context == nullptr) dbus::fatal("The bridge object was published without its context");
  // Its time counts from when it was read off the connection, not from when its turn came.
  const TimePoint arrival = context->connection->received_at();
  const auto sender = call.message.sender();
  if (!sender)
    return std::unexpected(
        to_method_error({FailureKind::access_denied, "Cannot identify the caller: the call has no sender"}));
  const auto& limits = context->scheduler->limits();
  auto kept = std::make_shared<dbus::Message>(call.message.another_reference());
  context->callers->identify(*sender, arrival + limits.call - limits.least_to_send,
                             [context, kept, arrival](const std::expected<uid_t, CallerUnknown>& uid) {
                               carry_out(*context, *kept, arrival, uid);
                             });
  return tree::answered_later();
}

tree::ArgDef string_arg(const char* name) { return {std::string(name), dbus::Signature::from_constant("s")}; }

}  // namespace

tree::ObjectTree bridge_tree(BridgeContext context) {
  tree::InterfaceDef definition{.name = dbus::InterfaceName::from_constant(contract::bridge_interface),
                                .methods = {},
                                .signals = {},
                                .properties = {},
                                .annotations = {}};
  definition.add_method(tree::MethodDef{
      .name = dbus::MemberName::from_constant(contract::execute_member),
      .handler = execute_hcitool,
      .in_args = {string_arg("controller"), string_arg("group"), string_arg("command"), string_arg("parameter")},
      .out_args = {string_arg("output")},
      .annotations = {},
  });

  tree::TreeObject object{.path = dbus::BusPath::from_constant(contract::bridge_path),
                          .default_interface = std::nullopt,
                          .interfaces = {},
                          .user_data = std::move(context)};
  tree::add_interface(object, std::move(definition));
  tree::add_introspectable(object);

  tree::ObjectTree bridge;
  bridge.add_object(std::move(object));
  return bridge;
}

}  // namespace bridge
