// The tool as the bridge runs it, through its scheduler on the real clock: real scripts in a
// temporary directory stand in for hcitool.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bridge/memory/power_memory.hpp"
#include "bridge/schedule/scheduler.hpp"
#include "bridge/transport/hcitool.hpp"

namespace bridge {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ToolScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bridge-tool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string script(const std::string& name, const std::string& body) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }

  fs::path dir_;
};

const TransmitPower level_25 = *read_transmit_power("hci0", "0x3f", "0x0087", "0x5");

// A child of this process, ended or not, that nobody has reaped; asking reaps none.
bool has_unreaped_child() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// The bridge's parts around one tool, with the loop turning until `done` or 10 s.
class ToolBridge {
 public:
  explicit ToolBridge(const std::string& tool, std::chrono::milliseconds limit = 1500ms)
      : transport_(tool, std::nullopt),
        scheduler_(clock_, transport_, memory_, [this](std::string_view line) { log_.emplace_back(line); },
                   std::nullopt, {.call = limit}) {}

  // One call: the reply, or "error: " and the Failed message, once what the tool left is reaped.
  std::string call(bool as_service = true) {
    std::optional<ExchangeResult> answer;
    scheduler_.submit({level_25, as_service, clock_.now(), [&](ExchangeResult result) { answer = std::move(result); }});
    turn_until([&] { return answer.has_value() && !has_unreaped_child(); });
    if (!answer) return "no answer";
    return *answer ? (*answer)->reply : "error: " + answer->error();
  }
  // A power-on of hci0, with level 25 remembered: the restore's log line.
  std::string restore() {
    memory_.keep(level_25);
    scheduler_.powered_on("hci0");
    turn_until([&] { return !log_.empty(); });
    return log_.empty() ? "no restore" : log_.back();
  }

 private:
  template <class Done>
  void turn_until(Done done) {
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      scheduler_.wait({}, 50ms);
      scheduler_.step();
    }
  }

  SteadyClock clock_;
  HcitoolTransport transport_;
  PowerMemory memory_;
  std::vector<std::string> log_;
  Scheduler scheduler_;
};

std::string call_through(const std::string& tool) { return ToolBridge(tool).call(); }

int open_descriptors() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

TEST_F(ToolScripts, ReportsEveryUnsuccessfulEndAsAFailureWithItsOwnText) {
  const struct {
    std::string name, body, message;
  } cases[] = {
      {"exit3", "echo out; echo err >&2; exit 3\n", " exited with status 3: out\nerr"},
      {"term", "printf partial; kill -TERM $$\n", " was killed by signal 15 (Terminated): partial"},
      {"hang", "echo started; exec sleep 10\n", " did not finish within 1500 ms and was killed"},
      {"flood", "head -c 70000 /dev/zero | tr '\\0' x\n", " printed more than 65536 bytes"},
  };
  for (const auto& c : cases) {
    const std::string tool = script(c.name, c.body);
    const int descriptors = open_descriptors();
    EXPECT_EQ(call_through(tool), "error: " + tool + c.message);
    EXPECT_FALSE(has_unreaped_child()) << c.name;
    EXPECT_EQ(open_descriptors(), descriptors) << c.name;
  }
}

// PATH for the length of one test.
class PathVariable {
 public:
  explicit PathVariable(const std::string& value) {
    if (const char* old = std::getenv("PATH")) saved_ = old;
    ::setenv("PATH", value.c_str(), 1);
  }
  PathVariable(const PathVariable&) = delete;
  PathVariable& operator=(const PathVariable&) = delete;
  ~PathVariable() {
    if (saved_) ::setenv("PATH", saved_->c_str(), 1);
    else ::unsetenv("PATH");
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(ToolScripts, ReportsAToolThatCannotBeStartedWithTheReasonExecWouldGive) {
  std::ofstream(dir_ / "plain") << "echo not a tool\n";
  fs::create_directories(dir_ / "readable");
  std::ofstream(dir_ / "readable" / "tool") << "echo not a tool\n";
  const std::string path = (dir_ / "readable").string() + ":" + (dir_ / "absent").string();
  const struct {
    std::string tool, reason;
  } cases[] = {
      {(dir_ / "no-such-tool").string(), "No such file or directory"},
      {"no-such-tool-on-path-xyz", "No such file or directory"},
      {(dir_ / "plain").string(), "Permission denied"},
      {dir_.string(), "Permission denied"},
      {(dir_ / "plain" / "tool").string(), "Not a directory"},
      {"tool", "Permission denied"},
      {"", "No such file or directory"},
  };
  const PathVariable search(path);
  for (const auto& c : cases) {
    EXPECT_EQ(call_through(c.tool), "error: Cannot start " + c.tool + ": " + c.reason);
    EXPECT_FALSE(has_unreaped_child()) << c.tool;
  }
}

TEST_F(ToolScripts, FindsTheToolAsExecWouldAndRunsThatFile) {
  fs::create_directories(dir_ / "readable");
  std::ofstream(dir_ / "readable" / "tool") << "echo not a tool\n";
  std::ofstream(dir_ / "plain") << "echo not a tool\n";
  fs::create_directories(dir_ / "bin");
  fs::rename(script("tool", "echo found\n"), dir_ / "bin" / "tool");
  const std::string bin = (dir_ / "bin").string();
  const struct {
    std::string tool, path;
  } cases[] = {
      {"tool", bin},
      {"tool", (dir_ / "absent").string() + ":" + (dir_ / "readable").string() + ":" + bin},
      {"tool", (dir_ / "plain").string() + ":" + bin},
      {(dir_ / "bin" / "tool").string(), (dir_ / "readable").string()},
      {fs::relative(dir_ / "bin" / "tool").string(), (dir_ / "readable").string()},
  };
  for (const auto& c : cases) {
    const PathVariable search(c.path);
    EXPECT_EQ(call_through(c.tool), "error: " + c.tool + " printed no HCI event: found\n")
        << c.tool << " with PATH " << c.path;
  }
}

TEST_F(ToolScripts, LeavesNothingTheToolStartedRunning) {
  const fs::path pid_file = dir_ / "child.pid";
  const std::string record = "sleep 10 & echo $! > '" + pid_file.string() + "'; ";
  const struct {
    std::string name, body, message;
  } cases[] = {
      {"waits-for-it", record + "wait\n", " did not finish within 300 ms and was killed"},
      {"leaves-it-behind", record + "echo done\n", " printed no HCI event: done\n"},
  };
  for (const auto& c : cases) {
    const std::string tool = script(c.name, c.body);
    EXPECT_EQ(ToolBridge(tool, 300ms).call(), "error: " + tool + c.message);
    EXPECT_FALSE(has_unreaped_child()) << c.name;

    pid_t child = 0;
    std::ifstream(pid_file) >> child;
    ASSERT_GT(child, 0);
    // The orphan is reaped by init in its own time; dead or a zombie both mean it was killed.
    bool gone = false;
    for (int i = 0; i < 2000 && !gone; ++i) {
      std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
      std::string pid, comm, state;
      gone = !(stat >> pid >> comm >> state) || state == "Z";
      if (!gone) ::usleep(1000);
    }
    EXPECT_TRUE(gone) << c.name;
    fs::remove(pid_file);
  }
}

TEST_F(ToolScripts, GivesTheToolACleanProcessEnvironment) {
  ::signal(SIGPIPE, SIG_IGN);
  const int leaked = ::dup2(::open("/dev/null", O_RDONLY), 50);  // deliberately without O_CLOEXEC
  ASSERT_EQ(leaked, 50);
  const std::string tool = script("env",
                                  "read line; echo \"stdin=$?\"\n"
                                  "[ -e /proc/$$/fd/50 ] && echo fd50=open || echo fd50=closed\n"
                                  "sed -n 's/^SigIgn:\\t//p' /proc/$$/status\n");
  const std::string answer = call_through(tool);
  ::close(leaked);
  ::signal(SIGPIPE, SIG_DFL);
  const std::string expected_start = "error: " + tool + " printed no HCI event: stdin=1\nfd50=closed\n";
  ASSERT_TRUE(answer.starts_with(expected_start)) << answer;
  const unsigned long long ignored = std::stoull(answer.substr(expected_start.size()), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << "SIGPIPE stays ignored in the tool";
}

TEST_F(ToolScripts, ReplacesInvalidUtf8InTheOutput) {
  const std::string tool = script("latin1", "printf 'caf\\351 \\000 0\\n'\n");
  EXPECT_EQ(call_through(tool), "error: " + tool + " printed no HCI event: caf\xEF\xBF\xBD \xEF\xBF\xBD 0\n");
}

// A power-on may be announced while the kernel still reports the controller down to the tool:
// a restore tries again until the controller is up, a call is answered at once.
TEST_F(ToolScripts, TriesARestoreAgainWhileTheControllerIsReportedDown) {
  const std::string tool = script("down-twice",
                                  "n=$(cat \"$0.runs\" 2>/dev/null || echo 0); echo $((n + 1)) > \"$0.runs\"\n"
                                  "if [ $n -lt 2 ]; then echo 'Invalid device: Network is down' >&2; exit 1; fi\n"
                                  "printf '> HCI Event: 0x0e plen 4\\n  01 87 FC 00 \\n'\n");
  const auto runs = [&] {
    std::string count;
    std::ifstream(tool + ".runs") >> count;
    fs::remove(tool + ".runs");
    return count;
  };
  EXPECT_EQ(ToolBridge(tool).restore(), "hci0 powered on: restored hci0 0x3f 0x0087 0x5");
  EXPECT_EQ(runs(), "3");
  EXPECT_EQ(ToolBridge(tool).call(), "error: " + tool + " exited with status 1: Invalid device: Network is down");
  EXPECT_EQ(runs(), "1");
}

}  // namespace
}  // namespace bridge
