// The real ble-ranged against sandboxed configuration files: the report on standard error, the
// exit status, and a file that start-up never writes.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"

namespace {

using harness::ExitStatus;
using harness::ProcessOptions;
using harness::WirelessSandbox;

// Whatever later start-up steps do, they must never reach the machine's real system bus.
ProcessOptions service_options(std::vector<int> closed = {}) {
  ProcessOptions options;
  options.environment = {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ble-test-bus"}};
  options.closed_descriptors = std::move(closed);
  return options;
}

// What the sandbox holds, to compare before and after a run: names, and the file's bytes and times.
std::string snapshot(const WirelessSandbox& sandbox) {
  std::string out = sandbox.listing();
  struct stat info {};
  const auto path = sandbox.directory() / "bluetooth.conf";
  if (::lstat(path.c_str(), &info) == 0) {
    out += "mode " + std::to_string(info.st_mode) + " mtime " + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec) + " inode " + std::to_string(info.st_ino) + "\n";
    if (S_ISREG(info.st_mode)) out += sandbox.read_config().value_or("<unreadable>");
  }
  return out;
}

struct FailureCase {
  const char* what;
  std::optional<std::string> file;  // nothing: no file at all
  std::string report;
};

const std::string path(WirelessSandbox::config_path);

const FailureCase failure_cases[] = {
    {"a missing file", std::nullopt, "Error: couldn't open " + path + ": No such file or directory (os error 2)\n"},
    {"a file that is not UTF-8", "[Bluetooth]\nRange = 7 ; caf\xE9\n",
     "Error: couldn't read " + path + ": stream did not contain valid UTF-8\n"},
    {"a header without closing bracket", "[Bluetooth\nRange = 7\n",
     "Error: line 0:0: Found opening bracket but no closing bracket\n"},
    {"an empty key on the third line", "[Bluetooth]\n\n = 7\n", "Error: line 2:0: Key cannot be empty\n"},
    {"an empty file", "", "Error: No section\n"},
    {"a header without keys", "[Bluetooth]\n", "Error: No section\n"},
    {"the key under another section", "[Other]\nRange = 7\n", "Error: No section\n"},
    {"another key only", "[Bluetooth]\nLevel = 7\n", "Error: No key\n"},
    {"the key without a value", "[Bluetooth]\nRange\n", "Error: No value\n"},
    {"an empty value", "[Bluetooth]\nRange =\n", "Error: cannot parse integer from empty string\n"},
    {"a sign alone", "[Bluetooth]\nRange = -\n", "Error: invalid digit found in string\n"},
    {"a letter after digits", "[Bluetooth]\nRange = 7a\n", "Error: invalid digit found in string\n"},
    {"a value above 127", "[Bluetooth]\nRange = 128\n", "Error: number too large to fit in target type\n"},
    {"a value below -128", "[Bluetooth]\nRange = -129\n", "Error: number too small to fit in target type\n"},
    {"a level above 30", "[Bluetooth]\nRange = 31\n", "Error: Bluetooth LE range 31 is out of range\n"},
    {"a negative level", "[Bluetooth]\nRange = -1\n", "Error: Bluetooth LE range -1 is out of range\n"},
};

TEST(ServiceStartUp, EndsEveryBadConfigurationWithItsReportAndStatusOne) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  for (const auto& c : failure_cases) {
    SCOPED_TRACE(c.what);
    WirelessSandbox sandbox;
    if (c.file) sandbox.write_config(*c.file);
    const std::string before = snapshot(sandbox);

    auto run = harness::run_to_end(harness::service_program(), service_options());

    EXPECT_EQ(run.status, ExitStatus::exited(1));
    EXPECT_EQ(run.standard_error, c.report);
    EXPECT_EQ(run.standard_output, "");
    EXPECT_EQ(snapshot(sandbox), before);
  }
}

TEST(ServiceStartUp, ReportsADirectoryInPlaceOfTheFileAsUnreadable) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  WirelessSandbox sandbox;
  std::filesystem::create_directory(sandbox.directory() / "bluetooth.conf");
  const std::string before = snapshot(sandbox);

  auto run = harness::run_to_end(harness::service_program(), service_options());

  EXPECT_EQ(run.status, ExitStatus::exited(1));
  EXPECT_EQ(run.standard_error, "Error: couldn't read " + path + ": Is a directory (os error 21)\n");
  EXPECT_EQ(snapshot(sandbox), before);
}

TEST(ServiceStartUp, NeverWritesTheConfigurationFileEvenOnAReadOnlyMount) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  WirelessSandbox sandbox;
  sandbox.write_config("; kept as it is\n[BLUETOOTH]\nRANGE = 007\n");
  sandbox.make_read_only();
  const std::string before = snapshot(sandbox);

  auto run = harness::run_to_end(harness::service_program(), service_options());

  // Later steps may fail in their own words; what matters is that start-up got past the file.
  ASSERT_EQ(run.status, ExitStatus::exited(1));
  EXPECT_TRUE(run.standard_error.starts_with("Error: ")) << run.standard_error;
  for (const auto& c : failure_cases) EXPECT_NE(run.standard_error, c.report);
  EXPECT_EQ(snapshot(sandbox), before);
}

TEST(ServiceStartUp, StillReportsWhenStandardInputAndOutputAreClosed) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  WirelessSandbox sandbox;
  sandbox.write_config("[Bluetooth]\nRange = 31\n");

  auto run = harness::run_to_end(harness::service_program(), service_options({0, 1}));

  EXPECT_EQ(run.status, ExitStatus::exited(1));
  EXPECT_EQ(run.standard_error, "Error: Bluetooth LE range 31 is out of range\n");
}

TEST(ServiceStartUp, ExitsWithStatusOneWhenEveryStandardDescriptorIsClosed) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  WirelessSandbox sandbox;
  sandbox.write_config("[Bluetooth]\nRange = 31\n");
  const std::string before = snapshot(sandbox);

  auto run = harness::run_to_end(harness::service_program(), service_options({0, 1, 2}));

  EXPECT_EQ(run.status, ExitStatus::exited(1));
  EXPECT_EQ(snapshot(sandbox), before);
}

// --help and --version answer, and anything else is refused, without reading the configuration
// (here a level start-up would end on) or reaching the bus.
struct ArgumentCase {
  const char* what;
  std::vector<std::string> arguments;
  int status;
  std::string output_start;
  std::string error;
};

TEST(ServiceStartUp, AnswersHelpAndVersionAndRefusesEveryOtherArgument) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  WirelessSandbox sandbox;
  sandbox.write_config("[Bluetooth]\nRange = 31\n");
  const std::string before = snapshot(sandbox);
  const std::string usage = "Usage: ble-ranged [-h | --help | --version]\n";
  const ArgumentCase cases[] = {
      {"help", {"--help"}, 0, usage, ""},
      {"help, short", {"-h"}, 0, usage, ""},
      {"the first of the two wins", {"--version", "--help"}, 0, "ble-ranged " BLE_VERSION "\n", ""},
      {"a typo", {"--verison"}, 2, "", "Error: unknown option \"--verison\" (see ble-ranged --help)\n"},
      {"an unknown one beside help", {"--help", "-v"}, 2, "", "Error: unknown option \"-v\" (see ble-ranged --help)\n"},
      {"a word", {"serve"}, 2, "", "Error: unexpected argument \"serve\" (see ble-ranged --help)\n"},
  };
  for (const auto& [what, arguments, status, output_start, error] : cases) {
    SCOPED_TRACE(what);
    auto options = service_options();
    options.arguments = arguments;
    const auto run = harness::run_to_end(harness::service_program(), std::move(options));
    EXPECT_EQ(run.status, ExitStatus::exited(status));
    EXPECT_TRUE(run.standard_output.starts_with(output_start)) << run.standard_output;
    if (output_start.empty()) {
      EXPECT_EQ(run.standard_output, "");
    }
    EXPECT_EQ(run.standard_error, error);
  }
  EXPECT_EQ(snapshot(sandbox), before);
}

}  // namespace
