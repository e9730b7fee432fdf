// The Debian packages: their files, their control data, and whether they are complete for the
// machine they are built for. Two sets are checked with the same expectations:
//   - the packages cpack builds from this tree (the service's, and the stand-in libcfgkit's
//     runtime and -dev packages unless the tree links the platform's library);
//   - with BLE_DEVICE_PACKAGES naming a directory, the device packages made there for 64-bit Arm
//     by build-device-packages (preset device-arm64, against the platform's library), compared
//     with this tree's as well.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
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

// What a set of packages was built as.
struct Build {
  bool platform_cfgkit;      // linked with the platform's libcfgkit, so none of ours inside
  std::string architecture;  // Debian's name
  std::string libdir;        // relative to /usr, as the packages lay it out
};

// One package of a set, unpacked.
struct Package {
  fs::path deb;
  fs::path contents;
  fs::path control;
};

// Builds this tree's packages into `out` with cpack, or takes the .deb files already in `out`;
// each is unpacked beside. Failures go into `failure`.
std::map<std::string, Package> unpacked_packages(const fs::path& out, bool build, std::string& failure) {
  if (build) {
    Command cpack{
        {BLE_CPACK_COMMAND, "--config", std::string(BLE_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.string()}};
    auto finished = run(cpack, std::chrono::minutes(5));
    if (!succeeded(finished)) {
      failure += describe(cpack, finished);
      return {};
    }
  }
  std::map<std::string, Package> packages;
  fs::create_directories(out / "contents");
  fs::create_directories(out / "control");
  for (const auto& entry : fs::directory_iterator(out)) {
    if (entry.path().extension() != ".deb") continue;
    auto name = output_of({{"dpkg-deb", "-f", entry.path().string(), "Package"}});
    while (!name.empty() && name.back() == '\n') name.pop_back();
    const Package package{entry.path(), out / "contents" / name, out / "control" / name};
    for (const auto& step : {Command{{"dpkg-deb", "-x", package.deb.string(), package.contents.string()}},
                             Command{{"dpkg-deb", "-e", package.deb.string(), package.control.string()}}}) {
      auto result = run(step);
      if (!succeeded(result)) failure += describe(step, result);
    }
    packages.emplace(name, package);
  }
  if (packages.empty()) failure += "no .deb in " + out.string() + "\n";
  return packages;
}

// Every path a package holds, as dpkg-deb lists them, with its mode: "-rwxr-xr-x ./usr/sbin/ble-ranged".
std::vector<std::string> listing(const Package& package) {
  std::vector<std::string> lines;
  std::istringstream text(output_of({{"dpkg-deb", "-c", package.deb.string()}}));
  for (std::string line; std::getline(text, line);)
    lines.push_back(line.substr(0, line.find(' ')) + " " + line.substr(line.rfind(' ') + 1));
  return lines;
}

const char* const device_packages = std::getenv("BLE_DEVICE_PACKAGES");

class DebianPackage : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = std::make_unique<harness::ScratchDirectory>();
    const bool device = device_packages != nullptr;
    tree_packages_ = unpacked_packages(work_->path() / "tree", true, failure_);
    under_test_ = device ? unpacked_packages(device_packages, false, failure_) : tree_packages_;
    build_ = device ? Build{true, "arm64", "lib/aarch64-linux-gnu"}
                    : Build{BLE_SYSTEM_CFGKIT, tree_architecture(), BLE_LIBDIR};
  }
  static void TearDownTestSuite() { work_.reset(); }

  void SetUp() override {
    if (!failure_.empty()) GTEST_FAIL() << failure_;
    ASSERT_TRUE(under_test_.contains("ble-ranged")) << "no package ble-ranged";
  }

  static std::string tree_architecture() {
    if (!std::string(BLE_DEB_ARCHITECTURE).empty()) return BLE_DEB_ARCHITECTURE;
    auto architecture = output_of({{"dpkg", "--print-architecture"}});
    return architecture.substr(0, architecture.find('\n'));
  }

  static const Package& service() { return under_test_.at("ble-ranged"); }
  static std::string field(const Package& package, const std::string& name) {
    auto value = output_of({{"dpkg-deb", "-f", package.deb.string(), name}});
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
  }

  // Package names in a relationship field, alternatives included, versions and arch qualifiers dropped.
  static std::set<std::string> named_in(const Package& package, const std::string& relationship) {
    std::set<std::string> names;
    std::string text = field(package, relationship);
    for (char& c : text) {
      if (c == ',' || c == '|') c = ' ';
    }
    std::istringstream words(text);
    bool in_version = false;
    for (std::string word; words >> word;) {
      if (word.starts_with("(")) in_version = true;
      if (!in_version) names.insert(word.substr(0, word.find(':')));
      if (word.ends_with(")")) in_version = false;
    }
    return names;
  }

  static inline std::unique_ptr<harness::ScratchDirectory> work_;
  static inline std::map<std::string, Package> tree_packages_;
  static inline std::map<std::string, Package> under_test_;
  static inline Build build_;
  static inline std::string failure_;
};

constexpr const char* shipped_programs[] = {"usr/sbin/ble-ranged", "usr/sbin/hcitool-bridge", "usr/bin/ble-rangectl"};

// The stand-in's packages and their files; the platform's own library replaces them in a device build.
const std::string standin_package = BLE_CFGKIT_STANDIN_PACKAGE;
const std::string standin_dev_package = BLE_CFGKIT_STANDIN_DEV_PACKAGE;
// The platform package's name, without a version constraint.
const std::string platform_package = [] {
  const std::string relation = BLE_CFGKIT_PACKAGE;
  return relation.substr(0, relation.find_first_of(" ("));
}();

TEST_F(DebianPackage, ListsTheProgramsUnitsBusPolicyAccountsAndManPagesUnderUsr) {
  const std::vector<std::string> expected = {
      "-rwxr-xr-x ./usr/sbin/ble-ranged",
      "-rwxr-xr-x ./usr/sbin/hcitool-bridge",
      "-rw-r--r-- ./usr/lib/systemd/system/ble-ranged.service",
      "-rw-r--r-- ./usr/lib/systemd/system/hcitool-bridge.service",
      "-rw-r--r-- ./usr/share/dbus-1/system.d/com.orbo.RIDEviva.conf",
      "-rw-r--r-- ./usr/share/dbus-1/system.d/com.orbo.ZozovoZorOrevov.conf",
      "-rw-r--r-- ./usr/lib/sysusers.d/ble-ranged.conf",
      "-rw-r--r-- ./usr/lib/tmpfiles.d/ble-ranged.conf",
      "-rw-r--r-- ./usr/share/man/man8/ble-ranged.8.gz",
      "-rw-r--r-- ./usr/share/man/man8/hcitool-bridge.8.gz",
      "-rwxr-xr-x ./usr/bin/ble-rangectl",
      "-rw-r--r-- ./usr/share/man/man1/ble-rangectl.1.gz",
      "-rw-r--r-- ./usr/share/bash-completion/completions/ble-rangectl",
      "-rw-r--r-- ./usr/share/dbus-1/interfaces/com.orbo.Configuration.Legacy.xml",
      "-rwxr-xr-x ./usr/share/doc/ble-ranged/examples/init.d/ble-ranged",
      "-rw-r--r-- ./usr/share/doc/ble-ranged/copyright",
  };
  const auto files = listing(service());
  for (const auto& file : expected) {
    EXPECT_NE(std::find(files.begin(), files.end(), file), files.end()) << file << " in\n"
                                                                        << testing::PrintToString(files);
  }
  // Nothing is installed outside /usr: /etc/wireless belongs to the device, made by tmpfiles.
  for (const auto& [name, package] : under_test_) {
    for (const auto& line : listing(package)) {
      const std::string path = line.substr(line.find(' ') + 1);
      EXPECT_TRUE(path == "./" || path.starts_with("./usr/")) << name << ": " << path;
    }
  }
}

// The stand-in library and its header travel in packages of their own, which provide the
// platform package's name; a device build has neither, and its service depends on the platform's
// package instead. No other package holds either file, so none can overwrite the platform's.
TEST_F(DebianPackage, KeepsTheStandInLibraryInPackagesOfItsOwnOrDependsOnThePlatforms) {
  const std::string library = "./usr/" + build_.libdir + "/libcfgkit.so";
  const std::string header = "./usr/include/cfgkit.h";
  std::map<std::string, std::string> holder;  // file -> package
  for (const auto& [name, package] : under_test_) {
    for (const auto& line : listing(package)) {
      const std::string path = line.substr(line.find(' ') + 1);
      if (path.ends_with("/libcfgkit.so") || path.ends_with("/cfgkit.h")) holder[path] = name;
    }
  }
  std::set<std::string> names;
  for (const auto& [name, package] : under_test_) names.insert(name);
  if (build_.platform_cfgkit) {
    EXPECT_EQ(names, std::set<std::string>{"ble-ranged"});
    EXPECT_TRUE(holder.empty()) << testing::PrintToString(holder);
    EXPECT_TRUE(named_in(service(), "Depends").contains(platform_package)) << field(service(), "Depends");
  } else {
    EXPECT_EQ(names, (std::set<std::string>{"ble-ranged", standin_package, standin_dev_package}));
    EXPECT_EQ(holder, (std::map<std::string, std::string>{{library, standin_package}, {header, standin_dev_package}}));
    EXPECT_EQ(named_in(under_test_.at(standin_package), "Provides"), std::set<std::string>{platform_package});
    EXPECT_TRUE(named_in(service(), "Depends").contains(standin_package)) << field(service(), "Depends");
    EXPECT_TRUE(named_in(under_test_.at(standin_dev_package), "Depends").contains(standin_package));
  }
  for (const auto& [name, package] : under_test_) {
    EXPECT_EQ(field(package, "Conflicts") + field(package, "Replaces") + field(package, "Breaks"), "") << name;
  }
}

// The service's package for 64-bit Arm holds exactly the paths of the one for this machine, the
// library directory's multiarch name aside.
TEST_F(DebianPackage, HasOneLayoutForBothArchitectures) {
  if (device_packages == nullptr)
    GTEST_SKIP() << "the device packages are compared with this tree's (BLE_DEVICE_PACKAGES)";
  const auto layout = [](const Package& package) {
    std::set<std::string> paths;
    for (std::string line : listing(package)) {
      for (const std::string multiarch : {"x86_64-linux-gnu", "aarch64-linux-gnu"}) {
        if (const auto at = line.find(multiarch); at != std::string::npos)
          line.replace(at, multiarch.size(), "<multiarch>");
      }
      paths.insert(line);
    }
    return paths;
  };
  ASSERT_TRUE(tree_packages_.contains("ble-ranged"));
  EXPECT_EQ(layout(service()), layout(tree_packages_.at("ble-ranged")));
}

// A library the host knows only through Debian's cross toolchain ("libc6-arm64-cross") comes on
// the device in the package of the same name without that suffix.
std::string device_package_name(const std::string& owner) {
  if (!owner.ends_with("-cross")) return owner;
  const auto architecture = owner.rfind('-', owner.size() - std::string("-cross").size() - 1);
  return architecture == std::string::npos ? owner : owner.substr(0, architecture);
}

TEST_F(DebianPackage, DependsOnThePackageOfEveryLibraryItsProgramsLoad) {
  const auto depends = named_in(service(), "Depends");
  for (const char* program : shipped_programs) {
    std::istringstream dynamic(output_of({{"readelf", "-d", (service().contents / program).string()}}));
    for (std::string line; std::getline(dynamic, line);) {
      if (line.find("(NEEDED)") == std::string::npos) continue;
      const std::string library = line.substr(line.find('[') + 1, line.find(']') - line.find('[') - 1);
      SCOPED_TRACE(std::string(program) + " needs " + library);
      if (library == "libcfgkit.so") {
        EXPECT_TRUE(depends.contains(build_.platform_cfgkit ? platform_package : standin_package));
        continue;
      }
      auto owners = run({{"dpkg-query", "-S", "*/" + library}});
      ASSERT_TRUE(succeeded(owners)) << "no installed package provides it";
      bool declared = false;
      std::istringstream entries(owners.standard_output);
      for (std::string entry; std::getline(entries, entry);) {
        declared = declared || depends.contains(device_package_name(entry.substr(0, entry.find_first_of(":,"))));
      }
      EXPECT_TRUE(declared) << "owners:\n" << owners.standard_output << "Depends: " << field(service(), "Depends");
    }
  }
}

// Linked with the platform's library, the service has no search path of its own, so nothing can
// shadow the platform's library; the stand-in's is found relative to the program.
TEST_F(DebianPackage, ServiceSearchesItsOwnDirectoriesOnlyForTheStandIn) {
  const std::string dynamic = output_of({{"readelf", "-d", (service().contents / "usr/sbin/ble-ranged").string()}});
  const bool has_search_path =
      dynamic.find("(RUNPATH)") != std::string::npos || dynamic.find("(RPATH)") != std::string::npos;
  EXPECT_EQ(has_search_path, !build_.platform_cfgkit) << dynamic;
}

TEST_F(DebianPackage, ShipsProgramsWithoutDebuggingSections) {
  for (const char* program : shipped_programs) {
    const std::string sections = output_of({{"readelf", "-S", "-W", (service().contents / program).string()}});
    EXPECT_EQ(sections.find(".debug_"), std::string::npos) << program;
  }
}

TEST_F(DebianPackage, IsBuiltForTheArchitectureOfItsPrograms) {
  const std::string machine = build_.architecture == "arm64"   ? "AArch64"
                              : build_.architecture == "amd64" ? "X86-64"
                                                               : "";
  ASSERT_FALSE(machine.empty()) << "unexpected architecture " << build_.architecture;
  for (const auto& [name, package] : under_test_)
    EXPECT_EQ(field(package, "Architecture"), build_.architecture) << name;
  for (const char* program : shipped_programs) {
    const std::string header = output_of({{"readelf", "-h", (service().contents / program).string()}});
    EXPECT_NE(header.find(machine), std::string::npos) << program << "\n" << header;
  }
}

TEST_F(DebianPackage, MaintainerScriptsAreExecutableShellAndApplyThePackagedAccountsAndDirectories) {
  for (const char* script : {"preinst", "postinst", "prerm", "postrm"}) {
    SCOPED_TRACE(script);
    const fs::path path = service().control / script;
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
    const std::string text = harness::read_file(service().control / script).value_or("");
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
    EXPECT_TRUE(fs::is_regular_file(service().contents / dir / named.front())) << named.front();
  }
}

// The maintainer scripts as dpkg runs them for a system under DPKG_ROOT (a scratch root holding
// the unpacked package and the preinst's accounts), over each shape /etc/wireless and the old
// bridge's state may have before. Only root's own files are ever given to the service; nothing
// is changed through a link, on an upgrade, or outside the scratch root.
struct ScriptCase {
  const char* situation;
  std::string before;  // shell, run in the scratch root
  std::vector<std::string> script;
  std::vector<std::string> after;  // "path uid:gid mode", "path -> target" or "path absent"; "svc" is the service
};

TEST_F(DebianPackage, MaintainerScriptsAdoptOnlyWhatTakesNothingFromAnyone) {
  REQUIRE_ROOT("files given to the service's account");
  const std::string level = "printf '[Bluetooth]\\nRange = 7\\n' >";
  const std::string directory = "mkdir -m 0755 etc/wireless && " + level + "etc/wireless/bluetooth.conf && ";
  const std::string secret = "echo secret >etc/secret && chmod 0600 etc/secret && ";
  const std::string data = "mkdir -p -m 0755 data/wireless && " + level + "data/wireless/bluetooth.conf && ";
  const std::string old_state =
      "mkdir -p -m 0700 var/lib/hcitool-bridge && echo 'hci0 0x3f 0x0087 0xa' >var/lib/hcitool-bridge/transmit-power && ";
  const std::vector<std::string> install = {"postinst", "configure"};
  const std::vector<std::string> upgrade = {"postinst", "configure", "0.1.0"};
  const std::vector<std::string> purge = {"postrm", "purge"};
  const std::vector<ScriptCase> cases = {
      {"fresh device: left to systemd-tmpfiles", "true", install, {"etc/wireless absent"}},
      {"root's directory and file: adopted",
       directory + "true",
       install,
       {"etc/wireless 0:svc 1775", "etc/wireless/bluetooth.conf svc:svc 644"}},
      {"the same on an upgrade: the administrator's choices stay",
       directory + "true",
       upgrade,
       {"etc/wireless 0:0 755", "etc/wireless/bluetooth.conf 0:0 644"}},
      {"another account's directory: nothing in it changes",
       directory + "chown -R 1234:1234 etc/wireless",
       install,
       {"etc/wireless 1234:1234 755", "etc/wireless/bluetooth.conf 1234:1234 644"}},
      {"another account's file in root's directory",
       directory + "chown 1234 etc/wireless/bluetooth.conf",
       install,
       {"etc/wireless 0:svc 1775", "etc/wireless/bluetooth.conf 1234:0 644"}},
      {"a root-only file hard-linked as the configuration",
       "mkdir etc/wireless && " + secret + "ln etc/secret etc/wireless/bluetooth.conf",
       install,
       {"etc/wireless 0:svc 1775", "etc/secret 0:0 600"}},
      {"a symbolic link as the configuration",
       "mkdir etc/wireless && " + secret + "ln -s /etc/secret etc/wireless/bluetooth.conf",
       install,
       {"etc/wireless/bluetooth.conf -> /etc/secret", "etc/secret 0:0 600"}},
      {"a link to root's directory on a data partition: followed",
       data + "ln -s /data/wireless etc/wireless",
       install,
       {"etc/wireless -> /data/wireless", "data/wireless 0:svc 1775", "data/wireless/bluetooth.conf svc:svc 644"}},
      {"a relative link to another account's directory",
       data + "chown -R 1234:1234 data/wireless && ln -s ../data/wireless etc/wireless",
       install,
       {"data/wireless 1234:1234 755", "data/wireless/bluetooth.conf 1234:1234 644"}},
      {"a link to a link",
       data + "ln -s /data/wireless data/link && ln -s /data/link etc/wireless",
       install,
       {"data/wireless 0:0 755", "data/wireless/bluetooth.conf 0:0 644"}},
      {"a file in its place", "echo x >etc/wireless", install, {"etc/wireless 0:0 644"}},
      {"the old bridge's state on an upgrade: removed", old_state + "true", upgrade, {"var/lib/hcitool-bridge absent"}},
      {"the old bridge's state beside a file of someone else's: the directory stays",
       old_state + "touch var/lib/hcitool-bridge/other",
       upgrade,
       {"var/lib/hcitool-bridge/transmit-power absent", "var/lib/hcitool-bridge/other 0:0 644"}},
      {"purge: the old bridge's state goes, /etc/wireless stays",
       directory + old_state + "true",
       purge,
       {"var/lib/hcitool-bridge absent", "etc/wireless 0:0 755"}},
  };
  for (const auto& [situation, before, script, after] : cases) {
    SCOPED_TRACE(situation);
    harness::ScratchDirectory root;
    const std::string path = root.path().string();
    const std::vector<std::pair<std::string, std::string>> dpkg_root = {
        {"DPKG_ROOT", path}, {"DPKG_MAINTSCRIPT_PACKAGE", "ble-ranged"}, {"DPKG_MAINTSCRIPT_NAME", script.front()}};
    const Command prepare{{"sh", "-ec",
                           "cp -a \"$1\"/. \"$2\" && mkdir -p \"$2\"/etc \"$2\"/data && cd \"$2\" && " + before, "sh",
                           service().contents.string(), path}};
    const Command preinst{{"sh", (service().control / "preinst").string(), "install"}, dpkg_root};
    Command run_script{{"sh", (service().control / script.front()).string()}, dpkg_root};
    run_script.argv.insert(run_script.argv.end(), script.begin() + 1, script.end());
    for (const auto& step : {prepare, preinst, run_script}) {
      auto finished = run(step);
      ASSERT_TRUE(succeeded(finished)) << describe(step, finished);
    }
    // The service's account, as its unit names it, in the scratch root's own files.
    const std::string account = packaging_test::unit_setting(
        harness::read_file(service().contents / "usr/lib/systemd/system/ble-ranged.service").value_or(""), "User");
    const auto service_id = [&](const char* file) {
      std::istringstream entries(harness::read_file(root.path() / "etc" / file).value_or(""));
      for (std::string line; std::getline(entries, line);) {
        std::istringstream fields(line);
        std::string name, password, id;
        std::getline(fields, name, ':');
        std::getline(fields, password, ':');
        std::getline(fields, id, ':');
        if (name == account) return id;
      }
      return std::string("none");
    };
    const std::string svc_uid = service_id("passwd"), svc_gid = service_id("group");
    for (const auto& expected : after) {
      const std::string entry = expected.substr(0, expected.find(' '));
      const fs::path file = root.path() / entry;
      struct stat info {};
      std::string actual = entry + " absent";
      if (::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        actual = entry + " -> " + fs::read_symlink(file).string();
      } else if (::lstat(file.c_str(), &info) == 0) {
        const auto name = [](unsigned id, const std::string& ours) {
          return std::to_string(id) == ours ? std::string("svc") : std::to_string(id);
        };
        std::ostringstream mode;
        mode << std::oct << (info.st_mode & 07777);
        actual = entry + " " + name(info.st_uid, svc_uid) + ":" + name(info.st_gid, svc_gid) + " " + mode.str();
      }
      EXPECT_EQ(actual, expected);
    }
  }
}

// The distribution's package checker finds no error and no warning that a package does not
// override on purpose (each override in usr/share/lintian/overrides/ gives its reason), and every
// override still matches something.
TEST_F(DebianPackage, PassesLintianWithNothingButDeliberateOverrides) {
  Command lintian{{"lintian", "--display-info", "--fail-on", "error,warning"}};
  for (const auto& [name, package] : under_test_) lintian.argv.push_back(package.deb.string());
  auto finished = run(lintian, std::chrono::minutes(5));
  EXPECT_TRUE(succeeded(finished)) << describe(lintian, finished);
  EXPECT_EQ(finished.standard_output.find("unused-override"), std::string::npos) << finished.standard_output;
}

}  // namespace
