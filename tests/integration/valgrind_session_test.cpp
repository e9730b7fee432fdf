// One scripted client session against ble-ranged running under memcheck: no memory errors and no
// definite or indirect leaks, through start-up, serving and the end on a lost bus.
#include <gtest/gtest.h>

#include <string>

#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/integration/service_rig.hpp"

namespace integration {
namespace {

using namespace std::chrono_literals;

using harness::BusClient;
using harness::describe;

TEST(ServiceUnderMemcheck, ServesASessionAndEndsWithoutErrorsOrLeaks) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  ServiceRig rig({.wrapper = {"/usr/bin/valgrind", "--tool=memcheck", "--leak-check=full",
                              "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99"}});
  auto& service = rig.start_serving();
  {
    BusClient client(rig.bus());
    auto get = harness::get_range();
    EXPECT_EQ(describe(client.call(get)), "return v i 7");
    auto all = harness::get_all();
    EXPECT_EQ(describe(client.call(all)), harness::all_properties(7));
    auto set = harness::set_range(25);
    EXPECT_EQ(describe(client.call(set)), "return");
    auto refused = harness::set_range(31);
    EXPECT_EQ(describe(client.call(refused)).rfind("error org.freedesktop.DBus.Error.InvalidArgs", 0), 0u);
    auto document = harness::introspect();
    EXPECT_EQ(describe(client.call(document)).rfind("return s \"<!DOCTYPE node", 0), 0u);
  }
  rig.bus().kill();
  EXPECT_EQ(service.wait_for_exit(60s), harness::ExitStatus::exited(1)) << service.standard_error();
  EXPECT_NE(service.standard_error().find("ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos)
      << service.standard_error();
  EXPECT_NE(service.standard_error().find("Error: Failed to read/write data, disconnected from D-Bus?\n"),
            std::string::npos);
  EXPECT_EQ(rig.config(), harness::stored_file(25));
}

}  // namespace
}  // namespace integration
