// Runs the suite, then lets libdbus free its process-wide caches so leak checkers see a clean exit.
#include <gtest/gtest.h>

#include "dbus/bus_connection.hpp"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  dbus::shutdown();
  return status;
}
