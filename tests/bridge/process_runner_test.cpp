// Running the tool: real scripts in a temporary directory stand in for hcitool.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "bridge/hcitool.hpp"

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

const HciCommand level_25 = *validate_command("hci0", "0x3f", "0x0087", "0x5");
const RunLimits quick{1500ms, 64 * 1024};

int open_descriptors() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

bool has_unreaped_child() {
  int status;
  return ::waitpid(-1, &status, WNOHANG) != -1 || errno != ECHILD;
}

TEST_F(ToolScripts, ReportsEveryUnsuccessfulEndAsAFailureWithItsOwnText) {
  const struct {
    std::string name, body, message;
  } cases[] = {
      {"exit3", "echo out; echo err >&2; exit 3\n", " exited with status 3: out\nerr\n"},
      {"term", "printf partial; kill -TERM $$\n", " was killed by signal 15 (Terminated): partial"},
      {"hang", "echo started; exec sleep 10\n", " did not finish within 1500 ms and was killed"},
      {"flood", "head -c 70000 /dev/zero | tr '\\0' x\n", " printed more than 65536 bytes"},
  };
  for (const auto& c : cases) {
    const std::string tool = script(c.name, c.body);
    const int descriptors = open_descriptors();
    const auto output = run_hcitool(tool, level_25, quick);
    ASSERT_FALSE(output.has_value()) << c.name;
    EXPECT_EQ(output.error(), tool + c.message);
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
    const auto output = run_hcitool(c.tool, level_25, quick);
    ASSERT_FALSE(output.has_value()) << c.tool << " ran: " << output->reply;
    EXPECT_EQ(output.error(), "Cannot start " + c.tool + ": " + c.reason);
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
    const auto output = run_hcitool(c.tool, level_25, quick);
    ASSERT_FALSE(output.has_value());
    EXPECT_EQ(output.error(), c.tool + " printed no HCI event: found\n") << c.tool << " with PATH " << c.path;
  }
}

TEST_F(ToolScripts, LeavesNothingTheToolStartedRunning) {
  const fs::path pid_file = dir_ / "child.pid";
  const std::string record = "sleep 10 & echo $! > '" + pid_file.string() + "'; ";
  const struct {
    std::string name, body;
    ProcessResult::End end;
  } cases[] = {
      {"waits-for-it", record + "wait\n", ProcessResult::End::timed_out},
      {"leaves-it-behind", record + "echo done\n", ProcessResult::End::exited},
  };
  for (const auto& c : cases) {
    const auto result = run_process({script(c.name, c.body)}, {300ms, 1024});
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->end, c.end) << c.name;
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
  const auto result = run_process({tool}, quick);
  ::close(leaked);
  ::signal(SIGPIPE, SIG_DFL);
  ASSERT_TRUE(result.has_value());
  const std::string expected_start = "stdin=1\nfd50=closed\n";
  ASSERT_TRUE(result->output.starts_with(expected_start)) << result->output;
  const unsigned long long ignored = std::stoull(result->output.substr(expected_start.size()), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << "SIGPIPE stays ignored in the tool";
}

TEST_F(ToolScripts, ReplacesInvalidUtf8InTheOutput) {
  const std::string tool = script("latin1", "printf 'caf\\351 \\000 0\\n'\n");
  const auto output = run_hcitool(tool, level_25, quick);
  ASSERT_FALSE(output.has_value());
  EXPECT_EQ(output.error(), tool + " printed no HCI event: caf\xEF\xBF\xBD \xEF\xBF\xBD 0\n");
}

}  // namespace
}  // namespace bridge
