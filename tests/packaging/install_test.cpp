// `cmake --install` into a scratch root: what lands where, and whether the pieces agree with
// each other and with the tools that read them on the device.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
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
using packaging_test::unit_setting;

// Installed with the prefix a device uses, whatever this build was configured with.
constexpr const char* prefix = "/usr";

fs::path under_prefix(const std::string& dir) {
  return fs::path(dir).is_absolute() ? fs::path(dir) : fs::path(prefix) / dir;
}

// Paths as the device sees them.
fs::path service_unit() { return under_prefix(BLE_UNITDIR) / "ble-ranged.service"; }
fs::path bridge_unit() { return under_prefix(BLE_UNITDIR) / "hcitool-bridge.service"; }
fs::path range_policy() { return under_prefix(BLE_POLICYDIR) / "com.orbo.RIDEviva.conf"; }
fs::path bridge_policy() { return under_prefix(BLE_POLICYDIR) / "com.orbo.ZozovoZorOrevov.conf"; }
fs::path sysusers_file() { return under_prefix(BLE_SYSUSERSDIR) / "ble-ranged.conf"; }
fs::path tmpfiles_file() { return under_prefix(BLE_TMPFILESDIR) / "ble-ranged.conf"; }
// "ble-rangectl.1.gz" lies in man1.
fs::path man_page(const std::string& name) {
  return under_prefix(BLE_MANDIR) / ("man" + fs::path(name).stem().extension().string().substr(1)) / name;
}
fs::path completion() { return under_prefix(BLE_DATADIR) / "bash-completion/completions/ble-rangectl"; }

class InstalledTree : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    destdir_ = std::make_unique<harness::ScratchDirectory>();
    Command install{{BLE_CMAKE_COMMAND, "--install", BLE_BUILD_DIR, "--prefix", prefix},
                    {{"DESTDIR", destdir_->path().string()}}};
    auto finished = run(install);
    if (!succeeded(finished)) install_failure_ = describe(install, finished);
  }
  static void TearDownTestSuite() { destdir_.reset(); }

  void SetUp() override {
    if (!install_failure_.empty()) GTEST_FAIL() << install_failure_;
  }

  // Where a device path landed in the scratch root.
  static fs::path staged(const fs::path& device_path) { return destdir_->path() / device_path.relative_path(); }
  static std::string staged_text(const fs::path& device_path) {
    return harness::read_file(staged(device_path)).value_or("");
  }

  static std::string xpath(const fs::path& device_path, const std::string& expression) {
    auto value = output_of({{"xmllint", "--xpath", expression, staged(device_path).string()}});
    if (value.ends_with('\n')) value.pop_back();
    return value;
  }

  static inline std::unique_ptr<harness::ScratchDirectory> destdir_;
  static inline std::string install_failure_;
};

struct ExpectedFile {
  fs::path device_path;
  bool executable;
};

TEST_F(InstalledTree, HoldsEveryDeploymentFileAsARegularFileWithItsMode) {
  const std::vector<ExpectedFile> expected = {
      {under_prefix(BLE_SBINDIR) / "ble-ranged", true},
      {under_prefix(BLE_SBINDIR) / "hcitool-bridge", true},
      {under_prefix(BLE_BINDIR) / "ble-rangectl", true},
      {service_unit(), false},
      {bridge_unit(), false},
      {range_policy(), false},
      {bridge_policy(), false},
      {sysusers_file(), false},
      {tmpfiles_file(), false},
      {man_page("ble-ranged.8.gz"), false},
      {man_page("hcitool-bridge.8.gz"), false},
      {man_page("ble-rangectl.1.gz"), false},
      {completion(), false},
      {under_prefix(BLE_DATADIR) / "dbus-1/interfaces/com.orbo.Configuration.Legacy.xml", false},
  };
  for (const auto& file : expected) {
    SCOPED_TRACE(file.device_path.string());
    struct stat info {};
    ASSERT_EQ(::stat(staged(file.device_path).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, file.executable ? 0755u : 0644u);
  }
}

TEST_F(InstalledTree, CarriesOurConfigurationLibraryOnlyWhenTheDeviceDoesNotProvideOne) {
  const bool ours_installed = fs::is_regular_file(staged(under_prefix(BLE_LIBDIR) / "libcfgkit.so"));
  EXPECT_EQ(ours_installed, !BLE_SYSTEM_CFGKIT);
}

// The service looks for our libcfgkit.so relative to itself, so an installed tree works wherever
// it lies: any --prefix, a DESTDIR, a copy.
TEST_F(InstalledTree, ServiceFindsOurLibraryInTheTreeItIsInstalledIn) {
  if (BLE_SYSTEM_CFGKIT) GTEST_SKIP() << "the device provides libcfgkit.so";
  const fs::path program = staged(under_prefix(BLE_SBINDIR) / "ble-ranged");
  const std::string dynamic = output_of({{"readelf", "-d", program.string()}});
  const std::string label = "Library runpath: [$ORIGIN/";
  const auto start = dynamic.find(label);
  ASSERT_NE(start, std::string::npos) << dynamic;
  const auto from = start + label.size();
  const std::string relative = dynamic.substr(from, dynamic.find(']', from) - from);
  EXPECT_TRUE(fs::is_regular_file(program.parent_path() / relative / "libcfgkit.so")) << relative;
}

TEST_F(InstalledTree, UnitsStartTheInstalledPrograms) {
  for (const auto& unit : {service_unit(), bridge_unit()}) {
    SCOPED_TRACE(unit.string());
    std::istringstream command(unit_setting(staged_text(unit), "ExecStart"));
    std::string program;
    command >> program;
    ASSERT_TRUE(fs::path(program).is_absolute()) << program;
    EXPECT_EQ(::access(staged(program).c_str(), X_OK), 0) << program;
  }
}

TEST_F(InstalledTree, UnitsPassSystemdVerificationApartFromProgramsNotOnThisMachine) {
  Command verify{
      {"systemd-analyze", "verify", "--man=no", staged(service_unit()).string(), staged(bridge_unit()).string()}};
  auto finished = run(verify);
  std::istringstream lines(finished.standard_error);
  for (std::string line; std::getline(lines, line);) {
    // The programs are staged in the scratch root, not at their device paths here.
    if (line.find(": Command " + under_prefix(BLE_SBINDIR).string() + "/") != std::string::npos &&
        line.ends_with("is not executable: No such file or directory")) {
      continue;
    }
    ADD_FAILURE() << line;
  }
}

struct Exposure {
  fs::path unit;
  const char* threshold;  // systemd-analyze's exposure score times ten: 0 (locked down) to 100
};

TEST_F(InstalledTree, UnitsStayLockedDown) {
  // The bridge keeps CAP_NET_RAW, Bluetooth sockets and the host network, hence a higher score.
  const std::vector<Exposure> units = {{service_unit(), "10"}, {bridge_unit(), "20"}};
  for (const auto& unit : units) {
    Command security{{"systemd-analyze", "security", "--offline=true", "--no-pager",
                      std::string("--threshold=") + unit.threshold, staged(unit.unit).string()}};
    auto finished = run(security);
    EXPECT_TRUE(succeeded(finished)) << describe(security, finished);
  }
}

TEST_F(InstalledTree, AccountsAgreeAcrossUnitsBusPolicyAndTheBridgesOwnCheck) {
  const std::string service_user = unit_setting(staged_text(service_unit()), "User");
  const std::string bridge_user = unit_setting(staged_text(bridge_unit()), "User");
  ASSERT_FALSE(service_user.empty());
  ASSERT_FALSE(bridge_user.empty());
  EXPECT_NE(service_user, bridge_user);

  EXPECT_EQ(xpath(range_policy(), "string(//policy[allow/@own='com.orbo.RIDEviva']/@user)"), service_user);
  EXPECT_EQ(xpath(bridge_policy(), "string(//policy[allow/@own='com.orbo.ZozovoZorOrevov']/@user)"), bridge_user);
  // Exactly the range service and root may call the bridge.
  EXPECT_EQ(xpath(bridge_policy(), "count(//policy[allow/@send_member='ExecuteHcitool'])"), "2");
  EXPECT_EQ(
      xpath(bridge_policy(), "count(//policy[@user='" + service_user + "']/allow[@send_member='ExecuteHcitool'])"),
      "1");
  EXPECT_EQ(xpath(bridge_policy(), "count(//policy[@user='root']/allow[@send_member='ExecuteHcitool'])"), "1");

  const std::string bridge_command = unit_setting(staged_text(bridge_unit()), "ExecStart");
  EXPECT_TRUE(bridge_command.ends_with(" --allow-user " + service_user)) << bridge_command;
}

// Every page, installed compressed as man-db reads them, and as the build renders it for reading
// before installing: groff and mandoc's checker both find nothing to say.
TEST_F(InstalledTree, ManPagesRenderWithoutWarnings) {
  std::istringstream pages(BLE_MAN_PAGES);
  for (std::string page; pages >> page;) {
    const fs::path built = fs::path(BLE_BUILT_MAN_DIR) / page;
    harness::ScratchDirectory scratch;
    harness::write_file(scratch.path() / page, output_of({{"gzip", "-dc", staged(man_page(page + ".gz")).string()}}));
    for (const fs::path& file : {scratch.path() / page, built}) {
      SCOPED_TRACE(file.string());
      EXPECT_EQ(harness::read_file(file).value_or("@").find('@'), std::string::npos) << "unrendered placeholder";
      for (const Command& check : {Command{{"groff", "-man", "-ww", "-z", "-Tutf8", file.string()}},
                                   Command{{"mandoc", "-T", "lint", "-W", "warning", file.string()}}}) {
        auto finished = run(check);
        EXPECT_TRUE(succeeded(finished)) << describe(check, finished);
        EXPECT_EQ(finished.standard_output + finished.standard_error, "") << describe(check, finished);
      }
    }
  }
}

struct Completion {
  std::vector<std::string> words;  // after the program's name; the last is being completed
  std::string offered;
};

// The installed script, as bash runs it for a tab after these words: each word whole, as
// "--json=short", or split where bash splits it, as "--json", "=", "short".
TEST_F(InstalledTree, BashCompletionOffersWhatGoesNextAndNoOptionTwice) {
  const std::string common = "--system --timeout= -q --quiet --no-pager -h --help --version";
  const Completion completions[] = {
      {{""}, "status get show set watch help " + common + " --json="},
      {{"s"}, "status show set"},
      {{"--system", "w"}, "watch"},
      {{"set", "2"}, "2 20 21 22 23 24 25 26 27 28 29"},
      {{"set", "-1", ""}, common},
      {{"--system", "-q", "--"}, "--timeout= --no-pager --help --version --json="},
      {{"show", "-pRange", "--"}, "--system --timeout= --quiet --no-pager --help --version --json= --value"},
      {{"show", "-p", ""}, "Range Power StoredRange Running UniqueName"},
      {{"show", "--property=R"}, "--property=Range --property=Running"},
      {{"show", "--property", "=", "Range,P"}, "Range,Power"},
      {{"watch", "--json", "=", ""}, "short pretty off"},
      {{"watch", "--json=short", "--"}, "--system --timeout= --quiet --no-pager --help --version --no-timestamps"},
  };
  for (const auto& [words, offered] : completions) {
    SCOPED_TRACE(testing::PrintToString(words));
    Command bash{{"bash", "-c",
                  "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _ble_rangectl; "
                  "echo \"${COMPREPLY[*]}\"",
                  "bash", staged(completion()).string(), "ble-rangectl"}};
    bash.argv.insert(bash.argv.end(), words.begin(), words.end());
    auto finished = run(bash);
    EXPECT_TRUE(succeeded(finished)) << describe(bash, finished);
    EXPECT_EQ(finished.standard_output, offered + "\n");
  }
}

// The accounts and /etc/wireless as systemd-sysusers and systemd-tmpfiles make them at first
// boot (or in the package's maintainer scripts), applied to a scratch root instead of this machine.
class FirstBoot : public InstalledTree {
 protected:
  void SetUp() override {
    InstalledTree::SetUp();
    fs::create_directories(root_.path() / "etc");
  }

  void create_accounts() {
    auto finished = run({{"systemd-sysusers", "--root=" + root_.path().string(), staged(sysusers_file()).string()}});
    ASSERT_TRUE(succeeded(finished)) << finished.standard_error;
  }
  void create_configuration() {
    auto finished =
        run({{"systemd-tmpfiles", "--create", "--root=" + root_.path().string(), staged(tmpfiles_file()).string()}});
    ASSERT_TRUE(succeeded(finished)) << finished.standard_error;
  }

  // The id of an entry of the root's passwd or group file; nothing when it has none.
  std::optional<unsigned> id_in(const char* file, const std::string& name) const {
    std::ifstream entries(root_.path() / "etc" / file);
    for (std::string line; std::getline(entries, line);) {
      if (line.starts_with(name + ":")) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 3; ++i) std::getline(fields, field, ':');
        return static_cast<unsigned>(std::stoul(field));
      }
    }
    return std::nullopt;
  }

  fs::path wireless() const { return root_.path() / "etc/wireless"; }

  harness::ScratchDirectory root_;
};

TEST_F(FirstBoot, CreatesEveryAccountThatUnitsAndBusPolicyName) {
  create_accounts();
  const std::vector<std::pair<const char*, std::string>> accounts = {
      {"passwd", unit_setting(staged_text(service_unit()), "User")},
      {"passwd", unit_setting(staged_text(bridge_unit()), "User")},
      {"group", unit_setting(staged_text(service_unit()), "Group")},
      {"group", unit_setting(staged_text(bridge_unit()), "Group")},
      {"group", xpath(range_policy(), "string(//policy[allow/@send_member='Set']/@group)")},
  };
  for (const auto& [file, name] : accounts) {
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(id_in(file, name).has_value()) << name << " missing from " << file;
  }
}

// What tmpfiles makes of /etc/wireless: a fresh device gets the directory (root's, the service's
// group, the sticky bit) and the default level; whatever is there already, an integrator's or
// another package's, is left exactly as it is, and nothing in place of the file fails it.
struct WirelessBefore {
  const char* situation;
  bool directory;                      // /etc/wireless exists, root's, mode 0755, with wpa.conf
  std::optional<std::string> stored;   // bluetooth.conf's bytes, root's
  std::optional<std::string> link_to;  // bluetooth.conf is a symbolic link to this instead
};

// Type, mode, owner, group and bytes (or link target) of every entry, for comparing.
std::map<std::string, std::string> entries_of(const fs::path& directory) {
  std::map<std::string, std::string> entries;
  if (!fs::exists(fs::symlink_status(directory))) return entries;
  auto describe_entry = [](const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    std::string text =
        std::to_string(info.st_mode) + " " + std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid);
    if (S_ISLNK(info.st_mode)) return text + " -> " + fs::read_symlink(path).string();
    if (S_ISREG(info.st_mode)) return text + " " + harness::read_file(path).value_or("?");
    return text;
  };
  entries["."] = describe_entry(directory);
  for (const auto& entry : fs::directory_iterator(directory))
    entries[entry.path().filename()] = describe_entry(entry.path());
  return entries;
}

TEST_F(FirstBoot, GivesAFreshDeviceTheDirectoryAndDefaultLevelAndLeavesWhatIsThere) {
  REQUIRE_ROOT("files given to the service's account");
  const std::vector<WirelessBefore> cases = {
      {"fresh device", false, std::nullopt, std::nullopt},
      {"a directory with another radio's file and a stored level", true, "[Bluetooth]\nRange = 7\n", std::nullopt},
      {"an empty file left by someone", true, "", std::nullopt},
      {"a symbolic link in place of the file", true, std::nullopt, "/data/bluetooth.conf"},
  };
  create_accounts();
  const auto service_uid = id_in("passwd", unit_setting(staged_text(service_unit()), "User"));
  const auto service_gid = id_in("group", unit_setting(staged_text(service_unit()), "Group"));
  ASSERT_TRUE(service_uid && service_gid);

  for (const auto& before : cases) {
    SCOPED_TRACE(before.situation);
    fs::remove_all(wireless());
    if (before.directory) {
      fs::create_directories(wireless());
      ::chmod(wireless().c_str(), 0755);
      harness::write_file(wireless() / "wpa.conf", "network={}\n");
      ::chmod((wireless() / "wpa.conf").c_str(), 0600);
      if (before.stored) harness::write_file(wireless() / "bluetooth.conf", *before.stored);
      if (before.link_to) fs::create_symlink(*before.link_to, wireless() / "bluetooth.conf");
    }
    const auto existing = entries_of(wireless());
    create_configuration();

    if (before.directory) {
      EXPECT_EQ(entries_of(wireless()), existing);
      continue;
    }
    struct stat directory {};
    ASSERT_EQ(::stat(wireless().c_str(), &directory), 0);
    EXPECT_EQ(directory.st_uid, 0u);
    EXPECT_EQ(directory.st_gid, *service_gid);  // it may create files here, replace only its own
    EXPECT_EQ(directory.st_mode & 07777, 01775u);
    struct stat file {};
    ASSERT_EQ(::stat((wireless() / "bluetooth.conf").c_str(), &file), 0);
    EXPECT_EQ(file.st_uid, *service_uid);
    EXPECT_EQ(file.st_mode & 07777, 0644u);
    EXPECT_EQ(harness::read_file(wireless() / "bluetooth.conf"), "[Bluetooth]\nRange = 20\n");
  }
}

}  // namespace
