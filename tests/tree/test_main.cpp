// Runs the suite, then lets libdbus free its process-wide caches so leak checkers see a clean exit.
#include <dbus/dbus.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  dbus_shutdown();
  return status;
}
