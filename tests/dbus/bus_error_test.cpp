#include "dbus/bus_error.hpp"

#include <gtest/gtest.h>

#include <utility>

#include "dbus/error_record.hpp"

namespace dbus {
namespace {

TEST(BusErrorTest, FailedStoresTheMessageExactlyPercentSignsIncluded) {
  for (std::string_view message : {"100%", "100%%", "%s%d%n", "%", "", "Invalid reply from DBus server"}) {
    SCOPED_TRACE(std::string(message));
    const BusError error = BusError::failed(message);
    EXPECT_EQ(error.name(), "org.freedesktop.DBus.Error.Failed");
    EXPECT_EQ(error.message(), message);
    EXPECT_EQ(error.text(), message);
  }
}

TEST(BusErrorTest, DetailedFormPutsTheMessageBeforeTheName) {
  const BusError error =
      BusError::custom(ErrorName::from_constant("org.freedesktop.DBus.Error.InvalidArgs"), "No such property 'x'");
  EXPECT_EQ(error.detailed(), "D-Bus error: No such property 'x' (org.freedesktop.DBus.Error.InvalidArgs)");
  EXPECT_EQ(error.text(), "No such property 'x'");
}

TEST(BusErrorTest, AMismatchBecomesAFailedErrorWithItsText) {
  const BusError error = BusError::from(TypeMismatch{ArgType::string, ArgType::nothing, 0});
  EXPECT_EQ(error.name(), "org.freedesktop.DBus.Error.Failed");
  EXPECT_EQ(error.text(), "D-Bus argument type mismatch at position 0: expected String, found nothing");
}

TEST(BusErrorTest, TakingARecordTakesItsContentAndLeavesItEmpty) {
  ErrorRecord record;
  dbus_set_error(record.out(), "com.example.Error.Odd", "odd %d", 7);
  const BusError error = record.take();
  EXPECT_FALSE(dbus_error_is_set(record.out()));
  EXPECT_EQ(error.name(), "com.example.Error.Odd");
  EXPECT_EQ(error.message(), "odd 7");
  // The record frees itself once more, harmless when empty; a double free would show in valgrind.
}

TEST(BusErrorTest, MovingHandsOverTheRecordAndEmptiesTheSource) {
  BusError first = BusError::failed("first");
  BusError second = std::move(first);
  EXPECT_EQ(first.name(), "");
  EXPECT_EQ(first.message(), "");
  EXPECT_EQ(first.detailed(), "D-Bus error:  ()");
  EXPECT_EQ(second.message(), "first");

  BusError third = BusError::failed("third");
  third = std::move(second);
  EXPECT_EQ(third.message(), "first");
}

}  // namespace
}  // namespace dbus
