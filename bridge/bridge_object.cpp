#include "bridge/bridge_object.hpp"

#include <array>
#include <chrono>
#include <cstdio>
#include <expected>
#include <string>
#include <thread>
#include <vector>

#include "bridge/call_log.hpp"
#include "bridge/concat.hpp"
#include "bridge/hci_command.hpp"
#include "bridge/send_command.hpp"
#include "bridge/simulation.hpp"
#include "dbus/fatal.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/utf8.hpp"

namespace bridge {
namespace {

// The daemon answers who a caller is at once; the bound only keeps our reply inside the
// caller's own 5 s.
constexpr std::chrono::seconds caller_check_timeout{1};

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

tree::MethodError to_method_error(Failure failure) {
  // Messages may quote the control file or the tool, neither of which promises UTF-8.
  return {error_name(failure.kind), dbus::to_bus_text(failure.message)};
}

std::unexpected<Failure> fail(FailureKind kind, std::string message) {
  return std::unexpected(Failure{kind, std::move(message)});
}

// Only root and the users named on the command line; the daemon's word is the only one trusted.
std::expected<void, Failure> check_caller(const dbus::Message& call, const BridgeContext& context) {
  const auto sender = call.sender();
  if (!sender) return fail(FailureKind::access_denied, "Cannot identify the caller: the call has no sender");
  auto uid = context.connection->unix_user(*sender, caller_check_timeout);  // BLOCKS up to 1 s
  if (!uid) return fail(FailureKind::access_denied, concat("Cannot identify the caller: ", uid.error().text()));
  if (!is_allowed(context.options, *uid))
    return fail(FailureKind::access_denied, concat("User ", *uid, " may not run hcitool commands"));
  return {};
}

constexpr std::array roles{ArgumentRole::controller, ArgumentRole::group, ArgumentRole::command,
                           ArgumentRole::parameter};

std::expected<HciCommand, Failure> read_command(const dbus::Message& call) {
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

  auto command = validate_command(texts[0], texts[1], texts[2], texts[3]);
  if (!command) return fail(FailureKind::invalid_arguments, std::move(command.error()));
  return std::move(*command);
}

std::vector<dbus::Message> one(dbus::Message message) {
  std::vector<dbus::Message> messages;
  messages.push_back(std::move(message));
  return messages;
}

dbus::Message string_reply(const dbus::Message& call, std::string_view text) {
  dbus::Message reply = dbus::Message::method_return(call);
  dbus::MessageWriter(reply).append_string(text);
  return reply;
}

// The controller's answer as the reply; an accepted command is remembered for the next power-on.
tree::HandlerResult answer_reply(const dbus::Message& call, const HciCommand& command, const BridgeContext& context,
                                 const SimulationControl& control) {
  auto answer = send_command(context.options, command, control);
  if (!answer) return std::unexpected(to_method_error({FailureKind::failed, std::move(answer.error())}));
  if (answer->status == 0) context.memory->remember(command);
  return one(string_reply(call, answer->reply));
}

// The error the control file names, or the standard Failed when it names none.
std::expected<dbus::ErrorName, std::string> simulated_error_name(const SimulationControl& control) {
  if (!control.error_name) return dbus::standard_error::failed();
  return dbus::ErrorName::from_text(*control.error_name);
}

tree::HandlerResult simulated_reply(const dbus::Message& call, const HciCommand& command,
                                    const BridgeContext& context) {
  const BridgeOptions& options = context.options;
  auto control = options.control ? load_control(*options.control) : SimulationControl{};
  if (!control) return std::unexpected(to_method_error({FailureKind::failed, control.error()}));
  // BLOCKS the whole bridge on purpose: this is how callers' reply timeouts are exercised.
  std::this_thread::sleep_for(control->delay);

  switch (control->reply) {
    case SimulatedReply::output: return answer_reply(call, command, context, *control);
    case SimulatedReply::text: return one(string_reply(call, dbus::to_bus_text(control->text)));
    case SimulatedReply::empty: return one(dbus::Message::method_return(call));
    case SimulatedReply::uint32: {
      dbus::Message reply = dbus::Message::method_return(call);
      dbus::MessageWriter(reply).append_uint32(7);
      return one(std::move(reply));
    }
    case SimulatedReply::error: {
      auto name = simulated_error_name(*control);
      if (!name)
        return std::unexpected(
            to_method_error({FailureKind::failed, concat("Control file error_name: ", name.error())}));
      return std::unexpected(tree::MethodError{std::move(*name), dbus::to_bus_text(control->error_message)});
    }
  }
  return std::unexpected(to_method_error({FailureKind::failed, "Unknown simulated reply"}));
}

tree::HandlerResult execute_hcitool(const tree::MethodContext& call) {
  const BridgeContext* context = call.object.data<BridgeContext>();
  if (context == nullptr) dbus::fatal("The bridge object was published without its context");
  if (auto allowed = check_caller(call.message, *context); !allowed)
    return std::unexpected(to_method_error(allowed.error()));
  auto command = read_command(call.message);
  if (!command) return std::unexpected(to_method_error(command.error()));

  // A lost log line must not cost the radio its command; the complaint goes to the journal.
  if (context->options.log)
    if (auto logged = append_call_log(*context->options.log, *command); !logged)
      std::fprintf(stderr, "Error: %s\n", logged.error().c_str());

  if (context->options.simulate) return simulated_reply(call.message, *command, *context);
  return answer_reply(call.message, *command, *context, SimulationControl{});
}

tree::ArgDef string_arg(const char* name) { return {std::string(name), dbus::Signature::from_constant("s")}; }

}  // namespace

tree::ObjectTree bridge_tree(BridgeContext context) {
  tree::InterfaceDef definition{.name = dbus::InterfaceName::from_constant(bridge_interface),
                                .methods = {},
                                .signals = {},
                                .properties = {},
                                .annotations = {}};
  definition.add_method(tree::MethodDef{
      .name = dbus::MemberName::from_constant(execute_member),
      .handler = execute_hcitool,
      .in_args = {string_arg("controller"), string_arg("group"), string_arg("command"), string_arg("parameter")},
      .out_args = {string_arg("output")},
      .annotations = {},
  });

  tree::TreeObject object{.path = dbus::BusPath::from_constant(bridge_path),
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
