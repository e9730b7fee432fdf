// The service under valgrind's memcheck through 1,200 mixed requests (valid and invalid Get,
// GetAll, Set, Introspect, unknown members and interfaces), a bridge that fails, and the end on
// a lost bus: no memory error and no leak.
#include <gtest/gtest.h>

#include <string>

#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/range_calls.hpp"
#include "tests/integration/service_rig.hpp"
#include "tests/reliability/mixed_load.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using harness::BusClient;
using harness::describe;

bool reports(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

TEST(Memcheck, ServesTwelveHundredMixedRequestsWithoutMemoryErrorsOrLeaks) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  integration::ServiceRig rig(
      {.config = harness::stored_file(25),
       .wrapper = {"/usr/bin/valgrind", "--tool=memcheck", "--leak-check=full",
                   "--show-leak-kinds=definite,indirect,possible", "--errors-for-leak-kinds=definite,indirect,possible",
                   "--error-exitcode=99", "--track-fds=no"}});
  auto& service = rig.start_serving();
  LoadPlan plan{.bus_address = rig.bus().address()};
  plan.connections = 4;
  plan.requests_per_connection = 300;
  plan.window = 8;
  {
    BusClient client(rig.bus());
    auto document = harness::introspect();
    plan.introspection = describe(client.call(document, nullptr, 60s));
  }
  const LoadResult result = run_mixed_load(plan);
  EXPECT_EQ(result.answered, 1200u);
  EXPECT_EQ(result.wrong, 0u);
  EXPECT_EQ(result.out_of_order, 0u);
  for (const auto& problem : result.first_problems) ADD_FAILURE() << problem;
  {
    // The failure paths of the radio as well: an error reply and an answer that does not parse.
    BusClient client(rig.bus());
    rig.bridge().set_control("reply=error\nerror_message=refused\n");
    auto refused = harness::set_range(3);
    EXPECT_EQ(describe(client.call(refused, nullptr, 60s)), "error org.freedesktop.DBus.Error.Failed: refused");
    rig.bridge().set_control("reply=text\ntext=garbage\n");
    auto garbage = harness::set_range(3);
    EXPECT_EQ(describe(client.call(garbage, nullptr, 60s)),
              "error org.freedesktop.DBus.Error.Failed: Failed to parse hcitool output: garbage");
  }
  rig.bus().kill();
  ASSERT_EQ(service.wait_for_exit(120s), harness::ExitStatus::exited(1)) << service.standard_error();
  const std::string& log = service.standard_error();
  EXPECT_TRUE(reports(log, "Error: Failed to read/write data, disconnected from D-Bus?\n")) << log;
  EXPECT_TRUE(reports(log, "ERROR SUMMARY: 0 errors from 0 contexts")) << log;
  EXPECT_FALSE(reports(log, "definitely lost: ") && !reports(log, "definitely lost: 0 bytes")) << log;
  EXPECT_FALSE(reports(log, "indirectly lost: ") && !reports(log, "indirectly lost: 0 bytes")) << log;
  EXPECT_FALSE(reports(log, "possibly lost: ") && !reports(log, "possibly lost: 0 bytes")) << log;
  RecordProperty("requests", static_cast<int>(result.answered + 2));
  std::printf("%s", log.substr(log.find("HEAP SUMMARY")).c_str());
}

}  // namespace
}  // namespace reliability
