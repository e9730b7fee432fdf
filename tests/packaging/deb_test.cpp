// The Debian package that cpack builds from this tree: its files, its control data, and
// whether it is complete for the machine it is built for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"
#include "tests/packaging/command.hpp"

namespace {

namespace fs = std::filesystem;
using packaging_test::Command;
using packaging_test::describe;
using packaging_test::output_of;
using packaging_test::run;
using packaging_test::succeeded;

class DebianPackage : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = std::make_unique<harness::ScratchDirectory>();
    Command cpack{{BLE_CPACK_COMMAND, "--config", std::string(BLE_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                   (work_->path() / "out").string()}};
    auto finished = run(cpack, std::chrono::minutes(5));
    if (!succeeded(finished)) {
      failure_ = describe(cpack, finished);
      return;
    }
    for (const auto& entry : fs::directory_iterator(work_->path() / "out")) {
      if (entry.path().extension() == ".deb") package_ = entry.path();
    }
    if (package_.empty()) {
      failure_ = "cpack wrote no .deb\n" + describe(cpack, finished);
      return;
    }
    Command extract{{"dpkg-deb", "-x", package_.string(), contents().string()}};
    Command control{{"dpkg-deb", "-e", package_.string(), control_dir().string()}};
    for (const auto& step : {extract, control}) {
      auto result = run(step);
      if (!succeeded(result)) failure_ += describe(step, result);
    }
  }
  static void TearDownTestSuite() { work_.reset(); }

  void SetUp() override {
    if (!failure_.empty()) GTEST_FAIL() << failure_;
  }

  static fs::path contents() { return work_->path() / "contents"; }
  static fs::path control_dir() { return work_->path() / "control"; }
  static std::string field(const std::string& name) {
    auto value = output_of({{"dpkg-deb", "-f", package_.string(), name}});
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  // Package names in a Depends field, alternatives included, versions and arch qualifiers dropped.
  static std::set<std::string> depended_on() {
    std::set<std::string> names;
    std::string depends = field("Depends");
    for (char& c : depends) {
      if (c == ',' || c == '|') c = ' ';
    }
    std::istringstream words(depends);
    bool in_version = false;
    for (std::string word; words >> word;) {
      if (word.starts_with("(")) in_version = true;
      if (!in_version) names.insert(word.substr(0, word.find(':')));
      if (word.ends_with(")")) in_version = false;
    }
    return names;
  }

  static inline std::unique_ptr<harness::ScratchDirectory> work_;
  static inline fs::path package_;
  static inline std::string failure_;
};

constexpr const char* shipped_programs[] = {"usr/sbin/ble-ranged", "usr/sbin/hcitool-bridge", "usr/bin/ble-rangectl"};

struct PackagedFile {
  const char* path;
  const char* mode;  // as dpkg-deb -c prints it
};

TEST_F(DebianPackage, ListsTheProgramsUnitsBusPolicyAccountsAndManPagesUnderUsr) {
  std::vector<PackagedFile> expected = {
      {"./usr/sbin/ble-ranged", "-rwxr-xr-x"},
      {"./usr/sbin/hcitool-bridge", "-rwxr-xr-x"},
      {"./usr/lib/systemd/system/ble-ranged.service", "-rw-r--r--"},
      {"./usr/lib/systemd/system/hcitool-bridge.service", "-rw-r--r--"},
      {"./usr/share/dbus-1/system.d/com.orbo.RIDEviva.conf", "-rw-r--r--"},
      {"./usr/share/dbus-1/system.d/com.orbo.ZozovoZorOrevov.conf", "-rw-r--r--"},
      {"./usr/lib/sysusers.d/ble-ranged.conf", "-rw-r--r--"},
      {"./usr/lib/tmpfiles.d/ble-ranged.conf", "-rw-r--r--"},
      {"./usr/share/man/man8/ble-ranged.8.gz", "-rw-r--r--"},
      {"./usr/share/man/man8/hcitool-bridge.8.gz", "-rw-r--r--"},
      {"./usr/bin/ble-rangectl", "-rwxr-xr-x"},
      {"./usr/share/man/man1/ble-rangectl.1.gz", "-rw-r--r--"},
      {"./usr/share/bash-completion/completions/ble-rangectl", "-rw-r--r--"},
      {"./usr/share/dbus-1/interfaces/com.orbo.Configuration.Legacy.xml", "-rw-r--r--"},
  };
  const std::string library = "./usr/" + std::string(BLE_LIBDIR) + "/libcfgkit.so";
  if (!BLE_SYSTEM_CFGKIT) expected.push_back({library.c_str(), "-rw-r--r--"});
  const std::string listing = output_of({{"dpkg-deb", "-c", package_.string()}});
  for (const auto& file : expected) {
    std::istringstream lines(listing);
    std::string found_mode;
    for (std::string line; std::getline(lines, line);) {
      if (line.ends_with(std::string(" ") + file.path)) found_mode = line.substr(0, line.find(' '));
    }
    EXPECT_EQ(found_mode, file.mode) << file.path << " in\n" << listing;
  }
  // Nothing is installed outside /usr: /etc/wireless belongs to the device, made by tmpfiles.
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const std::string path = line.substr(line.rfind(' ') + 1);
    EXPECT_TRUE(path == "./" || path.starts_with("./usr/")) << path;
  }
}

TEST_F(DebianPackage, DependsOnThePackageOfEveryLibraryItsProgramsLoad) {
  const auto depends = depended_on();
  for (const char* program : shipped_programs) {
    std::istringstream dynamic(output_of({{"readelf", "-d", (contents() / program).string()}}));
    for (std::string line; std::getline(dynamic, line);) {
      if (line.find("(NEEDED)") == std::string::npos) continue;
      const std::string library = line.substr(line.find('[') + 1, line.find(']') - line.find('[') - 1);
      SCOPED_TRACE(std::string(program) + " needs " + library);
      if (library == "libcfgkit.so" && BLE_SYSTEM_CFGKIT) continue;         // the device's own
      if (fs::exists(contents() / "usr" / BLE_LIBDIR / library)) continue;  // packaged here

      auto owners = run({{"dpkg-query", "-S", "*/" + library}});
      ASSERT_TRUE(succeeded(owners)) << "no installed package provides it";
      bool declared = false;
      std::istringstream entries(owners.standard_output);
      for (std::string entry; std::getline(entries, entry);) {
        const std::string package = entry.substr(0, entry.find_first_of(":,"));
        declared = declared || depends.contains(package);
      }
      EXPECT_TRUE(declared) << "owners:\n" << owners.standard_output << "Depends: " << field("Depends");
    }
  }
}

TEST_F(DebianPackage, ShipsProgramsWithoutDebuggingSections) {
  for (const char* program : shipped_programs) {
    const std::string sections = output_of({{"readelf", "-S", "-W", (contents() / program).string()}});
    EXPECT_EQ(sections.find(".debug_"), std::string::npos) << program;
  }
}

TEST_F(DebianPackage, IsBuiltForTheArchitectureOfItsPrograms) {
  const std::string architecture = field("Architecture");
  const std::string machine = architecture == "arm64" ? "AArch64" : architecture == "amd64" ? "X86-64" : "";
  ASSERT_FALSE(machine.empty()) << "unexpected architecture " << architecture;
  if (std::string(BLE_DEB_ARCHITECTURE).empty()) {
    EXPECT_EQ(architecture + "\n", output_of({{"dpkg", "--print-architecture"}}));
  } else {
    EXPECT_EQ(architecture, BLE_DEB_ARCHITECTURE);
  }
  for (const char* program : shipped_programs) {
    const std::string header = output_of({{"readelf", "-h", (contents() / program).string()}});
    EXPECT_NE(header.find(machine), std::string::npos) << program << "\n" << header;
  }
}

TEST_F(DebianPackage, MaintainerScriptsAreExecutableShellAndApplyThePackagedAccountsAndDirectories) {
  for (const char* script : {"preinst", "postinst", "prerm", "postrm"}) {
    SCOPED_TRACE(script);
    const fs::path path = control_dir() / script;
    EXPECT_EQ(::access(path.c_str(), X_OK), 0);
    auto syntax = run({{"sh", "-n", path.string()}});
    EXPECT_TRUE(succeeded(syntax)) << syntax.standard_error;
  }
  // Each tool names a packaged file once: the accounts' entries before unpacking (by full path,
  // the file being replaced), the directories after (by base name, which the tool looks up).
  struct Step {
    const char* script;
    const char* tool;
    const char* dir;
  };
  for (const auto& [script, tool, dir] : {Step{"preinst", "systemd-sysusers --replace=/", ""},
                                          Step{"postinst", "systemd-tmpfiles --create ", "usr/lib/tmpfiles.d"}}) {
    SCOPED_TRACE(tool);
    const std::string text = harness::read_file(control_dir() / script).value_or("");
    std::vector<std::string> named;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      line.erase(0, line.find_first_not_of(' '));
      if (line.starts_with(tool)) {
        const std::string rest = line.substr(std::string(tool).size());
        named.push_back(rest.substr(0, rest.find(' ')));
      }
    }
    ASSERT_EQ(named.size(), 1u) << text;
    EXPECT_TRUE(fs::is_regular_file(contents() / dir / named.front())) << named.front();
  }
}

// The distribution's package checker finds no error and no warning that the package does not
// override on purpose (each override in usr/share/lintian/overrides/ble-ranged gives its reason),
// and every override still matches something.
TEST_F(DebianPackage, PassesLintianWithNothingButDeliberateOverrides) {
  Command lintian{{"lintian", "--display-info", "--fail-on", "error,warning", package_.string()}};
  auto finished = run(lintian, std::chrono::minutes(5));
  EXPECT_TRUE(succeeded(finished)) << describe(lintian, finished);
  EXPECT_EQ(finished.standard_output.find("unused-override"), std::string::npos) << finished.standard_output;
}

}  // namespace
