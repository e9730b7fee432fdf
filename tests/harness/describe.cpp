#include "tests/harness/describe.hpp"

#include <cstdint>
#include <string_view>

#include "dbus/arg_type.hpp"
#include "dbus/message_reader.hpp"

namespace harness {
namespace {

std::string value(dbus::MessageReader& reader);

// Values up to the end, or up to one the cursor cannot pass.
std::string values(dbus::MessageReader reader, std::string_view separator) {
  std::string out;
  for (bool first = true; reader.current_type() != dbus::ArgType::nothing; first = false) {
    if (!first) out += separator;
    const std::uint32_t at = reader.position();
    out += value(reader);
    if (reader.position() == at) break;
  }
  return out;
}

std::string value(dbus::MessageReader& reader) {
  const std::string signature = reader.current_signature();
  switch (reader.current_type()) {
    case dbus::ArgType::string: return "s \"" + reader.read_string().value_or("?") + "\"";
    case dbus::ArgType::int32: return "i " + std::to_string(*reader.read_int32());
    case dbus::ArgType::uint32: return "u " + std::to_string(*reader.read_uint32());
    case dbus::ArgType::variant: return "v " + values(*reader.enter_variant(), "");
    case dbus::ArgType::array: return signature + " [" + values(*reader.enter_array(), ", ") + "]";
    case dbus::ArgType::dict_entry: return "{" + values(*reader.enter_dict_entry(), ": ") + "}";
    default: return signature + " ?";
  }
}

std::string arguments(const dbus::MessageReader& reader) {
  if (reader.current_type() == dbus::ArgType::nothing) return "";
  return " " + values(reader, ", ");
}

// "/path com.example.Iface.Member", and " to NAME" when it has a destination.
std::string place(const dbus::Message& message) {
  std::string out = std::string(message.path().value_or("")) + " " + std::string(message.interface().value_or("")) +
                    "." + std::string(message.member().value_or(""));
  if (const auto destination = message.destination()) out += " to " + std::string(*destination);
  return out;
}

std::string error(const dbus::Message& message) {
  dbus::MessageReader reader(message);
  const std::string name = "error " + std::string(message.error_name().value_or(""));
  const auto text = reader.read_string();
  if (!text) return name + arguments(reader);
  if (reader.current_type() == dbus::ArgType::nothing) return name + ": " + *text;
  return name + ": " + *text + "," + arguments(reader);
}

}  // namespace

std::string describe(const dbus::Message& message) {
  if (!message) return "nothing";
  switch (message.type()) {
    case dbus::MessageType::method_return: return "return" + arguments(dbus::MessageReader(message));
    case dbus::MessageType::error: return error(message);
    case dbus::MessageType::signal: return "signal " + place(message) + arguments(dbus::MessageReader(message));
    case dbus::MessageType::method_call: return "call " + place(message) + arguments(dbus::MessageReader(message));
  }
  return "?";
}

std::vector<std::string> describe(const std::vector<dbus::Message>& messages) {
  std::vector<std::string> out;
  for (const dbus::Message& message : messages) out.push_back(describe(message));
  return out;
}

std::string shortened(const std::string& text) {
  if (text.size() <= 300) return text;
  return text.substr(0, 120) + "...(" + std::to_string(text.size()) + " bytes)..." + text.substr(text.size() - 120);
}

}  // namespace harness
