#include <gtest/gtest.h>

#include "dbus/bus_connection.hpp"
#include "dbus/message_reader.hpp"
#include "peer_service.hpp"
#include "tests/harness/private_bus.hpp"

namespace dbus {
namespace {

using dbus_test::PeerService;
using namespace std::chrono_literals;

class CallBlockingTest : public ::testing::Test {
 protected:
  std::expected<Message, BusError> call(const char* member, const std::vector<CallArg>& args = {},
                                        std::chrono::milliseconds timeout = 5s,
                                        const char* destination = PeerService::bus_name) const {
    const MethodTarget peer{BusName::from_constant(destination), BusPath::from_constant(PeerService::path)};
    return connection_.call(peer, InterfaceName::from_constant(PeerService::interface_name),
                            MemberName::from_constant(member), args, timeout);
  }

  harness::PrivateBus bus_{{.this_process_too = true}};
  PeerService service_;
  BusConnection connection_ = BusConnection::open_system_bus().value();
};

TEST_F(CallBlockingTest, ArgumentsGoOutInOrderAndTheReplyBelongsToTheCaller) {
  auto reply =
      call("Describe", {std::string("hci0"), std::int32_t{-20}, std::uint32_t{4000000000u}, std::string("0x3f")});
  ASSERT_TRUE(reply.has_value()) << reply.error().detailed();
  EXPECT_EQ(reply->type(), MessageType::method_return);
  MessageReader reader(*reply);
  EXPECT_EQ(reader.read_string(), "sius");
  EXPECT_EQ(reader.read_string(), "hci0");
}

TEST_F(CallBlockingTest, FailuresComeBackWithTheirNameAndMessage) {
  struct Row {
    std::string_view name;
    const char* member;
    std::chrono::milliseconds timeout;
    const char* destination;
    std::string_view error_name;
    std::string_view message_part;
  };
  const Row rows[] = {
      {"error reply from the callee", "Refuse", 5s, PeerService::bus_name, "com.example.Error.Refused",
       PeerService::refusal},
      {"no reply within the timeout", "Ignore", 200ms, PeerService::bus_name, "org.freedesktop.DBus.Error.NoReply", ""},
      {"destination not on the bus", "Describe", 5s, "com.example.Absent", "org.freedesktop.DBus.Error.ServiceUnknown",
       "com.example.Absent"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name));
    const auto reply = call(row.member, {}, row.timeout, row.destination);
    ASSERT_FALSE(reply.has_value());
    EXPECT_EQ(reply.error().name(), row.error_name);
    EXPECT_NE(reply.error().message().find(row.message_part), std::string_view::npos) << reply.error().message();
  }
  // The callee's message arrives unchanged, percent signs and all.
  EXPECT_EQ(call("Refuse").error().text(), PeerService::refusal);
}

TEST_F(CallBlockingTest, AReplyOfTheWrongTypeFailsToReadWithTheMismatchText) {
  struct Row {
    const char* member;
    ArgType read;
    std::string_view text;
  };
  const Row rows[] = {
      {"Empty", ArgType::uint32, "D-Bus argument type mismatch at position 0: expected u32, found nothing"},
      {"Empty", ArgType::string, "D-Bus argument type mismatch at position 0: expected String, found nothing"},
      {"Number", ArgType::string, "D-Bus argument type mismatch at position 0: expected String, found u32"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.member);
    auto reply = call(row.member);
    ASSERT_TRUE(reply.has_value()) << reply.error().detailed();
    MessageReader reader(*reply);
    const TypeMismatch mismatch =
        row.read == ArgType::uint32 ? reader.read_uint32().error() : reader.read_string().error();
    const BusError error = BusError::from(mismatch);
    EXPECT_EQ(error.name(), "org.freedesktop.DBus.Error.Failed");
    EXPECT_EQ(error.text(), row.text);
  }
  auto number = call("Number");
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(MessageReader(*number).read_uint32(), 7u);
}

}  // namespace
}  // namespace dbus
