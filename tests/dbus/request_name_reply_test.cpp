#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "dbus/bus_connection.hpp"

namespace dbus {
namespace {

TEST(RequestNameReplyTest, OnlyTheFourAnswersOfTheDaemonCountAsSuccess) {
  const std::optional<std::string> invalid = "Invalid reply from DBus server";
  const struct {
    std::uint32_t reply;
    std::optional<std::string> error;  // the message of the Failed error, or nothing on success
  } cases[] = {
      {0, invalid},      {1, std::nullopt},  // primary owner
      {2, std::nullopt},                     // in the queue: start-up still goes on
      {3, std::nullopt},                     // already in the queue
      {4, std::nullopt},                     // already the owner
      {5, invalid},      {6, invalid},      {0xFFFFFFFF, invalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const auto checked = check_request_name_reply(c.reply);
    ASSERT_EQ(checked.has_value(), !c.error);
    if (c.error) {
      EXPECT_EQ(checked.error().name(), "org.freedesktop.DBus.Error.Failed");
      EXPECT_EQ(checked.error().text(), *c.error);
    }
  }
}

}  // namespace
}  // namespace dbus
