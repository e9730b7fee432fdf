#include "src/tx_power_command.hpp"

#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "contract/bridge_interface.hpp"
#include "contract/range_interface.hpp"
#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/names.hpp"
#include "text/parse_int.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace src::tx_power_command {
namespace {

constexpr int lowest_power = -30;
constexpr int highest_power = 20;

constexpr std::chrono::seconds reply_timeout{5};

// The vendor command: controller, command group (vendor-specific), command, power.
std::vector<dbus::CallArg> vendor_command(std::int8_t power) {
  return {std::string("hci0"), std::string("0x3f"), std::string("0x0087"), power_text(power)};
}

// What the tool printed, and who answered.
struct BridgeReply {
  std::string output;
  std::string bridge;
};

// Copies the tool's output out of the reply, which is released before we return.
std::expected<BridgeReply, Error> printed_output(dbus::Message reply) {
  dbus::MessageReader reader(reply);
  auto output = reader.read_string();
  if (!output) return std::unexpected(to_error(output.error()));
  return BridgeReply{.output = std::move(*output), .bridge = std::string(reply.sender().value_or(""))};
}

// Nothing came back from the bridge: no reply in time, or it left the bus without one (NoReply),
// our own connection was lost, or nobody held the bridge's name. Whether the level reached the
// radio is not known; every other error is the bridge's (or the daemon's policy's) answer.
bool unanswered(const dbus::BusError& failure) {
  namespace standard = dbus::standard_error;
  for (const dbus::ErrorName* name :
       {&standard::no_reply(), &standard::disconnected(), &standard::service_unknown(), &standard::name_has_no_owner()})
    if (failure.name() == name->view()) return true;
  return false;
}

// BLOCKS up to the reply timeout.
std::expected<BridgeReply, Error> execute_hcitool(const dbus::BusConnection& connection, std::int8_t power) {
  const dbus::MethodTarget target{
      .destination = dbus::BusName::from_constant(contract::bridge_bus_name),
      .path = dbus::BusPath::from_constant(contract::bridge_path),
  };
  auto reply =
      connection.call(target, dbus::InterfaceName::from_constant(contract::bridge_interface),
                      dbus::MemberName::from_constant(contract::execute_member), vendor_command(power), reply_timeout);
  // Whoever holds the bridge's name may answer with an error of any size: it is quoted as the
  // output is, so that no error reply of ours can pass the bus's message limit.
  if (!reply) {
    std::string message = quoted_output(reply.error().text());
    return std::unexpected(unanswered(reply.error()) ? Error::unanswered(std::move(message))
                                                     : Error(std::move(message)));
  }
  return printed_output(std::move(*reply));
}

void print_line(const std::string& line) noexcept {
  // Nobody may be reading standard output; a line that cannot be written is simply lost.
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

std::expected<std::int8_t, Error> power_for(std::int8_t level) {
  const int power = level + contract::level_to_power;
  if (power < lowest_power || power > highest_power) {
    return std::unexpected(Error("BLE Power " + std::to_string(power) + " must be in the range of " +
                                 std::to_string(lowest_power) + " to " + std::to_string(highest_power)));
  }
  return static_cast<std::int8_t>(power);
}

std::string success_line(std::int8_t level, std::int8_t power) {
  return "Set BLE range " + std::to_string(level) + " (" + std::to_string(power) + " dBm) successfully.\n";
}

Error refused(std::int8_t status) { return Error("Set BLE Power failed: " + std::to_string(status)); }

std::string power_text(std::int8_t power) {
  static constexpr char digits[] = "0123456789abcdef";
  const auto byte = static_cast<std::uint8_t>(power);
  std::string text = "0x";
  if (byte >= 0x10) text += digits[byte >> 4];
  text += digits[byte & 0xf];
  return text;
}

std::optional<std::string_view> last_line(std::string_view output) noexcept {
  if (output.empty()) return std::nullopt;
  bool terminated = false;
  if (output.back() == '\n') {
    // One line feed at the very end closes the last line instead of opening an empty one.
    output.remove_suffix(1);
    terminated = true;
  }
  const auto break_at = output.rfind('\n');
  std::string_view line = break_at == std::string_view::npos ? output : output.substr(break_at + 1);
  if (terminated && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string quoted_output(std::string_view output) {
  if (output.size() <= longest_quoted_output) return std::string(output);
  return std::string(text::leading_characters(output, longest_quoted_output)) + "... (" +
         std::to_string(output.size()) + " bytes in all)";
}

std::expected<std::int8_t, Error> controller_status(std::string_view output) {
  const auto unparsable = [output] {
    return std::unexpected(Error("Failed to parse hcitool output: " + quoted_output(output)));
  };
  const auto line = last_line(output);
  if (!line) return unparsable();
  const auto token = text::last_token(*line);
  if (!token) return unparsable();
  const auto status = text::parse_i8(*token);
  if (!status) return unparsable();
  return *status;
}

std::expected<std::string, Error> run(std::int8_t level) {
  const auto power = power_for(level);
  if (!power) return std::unexpected(power.error());

  // BLOCKS while connecting. The connection is ours alone and closes when it goes out of scope,
  // after the success line. Without a bus nothing was sent, but the bridge, which may have lost
  // it too, cannot be counted on to hold the level.
  auto connection = dbus::BusConnection::open_system_bus();
  if (!connection) return std::unexpected(Error::unanswered(connection.error().text()));

  auto reply = execute_hcitool(*connection, *power);
  if (!reply) return std::unexpected(reply.error());
  const auto status = controller_status(reply->output);
  if (!status) return std::unexpected(status.error());
  if (*status != 0) return std::unexpected(refused(*status));

  print_line(success_line(level, *power));
  return std::move(reply->bridge);
}

}  // namespace src::tx_power_command

namespace src {

std::expected<void, Error> BridgeRadio::apply(std::int8_t level) {
  auto taken = tx_power_command::run(level);  // BLOCKS up to 5 s
  if (!taken) return std::unexpected(std::move(taken.error()));
  applied_by_ = std::move(*taken);
  return {};
}

}  // namespace src
