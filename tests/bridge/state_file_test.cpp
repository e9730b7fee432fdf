// The file that keeps the service's levels across restarts, written by its own thread: what a
// file at start gives, a write that fails and is repaired, a level withdrawn after its write, and
// symbolic links in the way.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/memory/power_memory.hpp"

namespace bridge {
namespace {

namespace fs = std::filesystem;

class StateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bridge-state-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = dir_ / "transmit-power";
  }
  void TearDown() override { fs::remove_all(dir_); }

  Log log() {
    return [this](std::string_view line) { log_.emplace_back(line); };
  }
  PowerMemory memory() {
    return PowerMemory(read_remembered(file_, log()), file_, threaded_state_writer(file_), log());
  }
  static std::string read(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
  static void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

  fs::path dir_;
  fs::path file_;
  std::vector<std::string> log_;
};

TransmitPower power(const char* controller, const char* parameter) {
  return *read_transmit_power(controller, "0x3f", "0x0087", parameter);
}

std::vector<std::string> remembered(const PowerByController& powers) {
  std::vector<std::string> lines;
  for (const auto& [controller, command] : powers) lines.push_back(command_line(command));
  return lines;
}

// Steps the memory as the bridge's loop does until `done`; false when 10 s pass first.
bool step_until(PowerMemory& memory, const std::function<bool()>& done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    pollfd ready{memory.fd(), POLLIN, 0};
    ::poll(&ready, 1, 50);
    memory.step(std::chrono::steady_clock::now());
  }
  return true;
}

// Proposes the command and waits for its write: its outcome, and the command kept or withdrawn.
std::expected<void, std::string> keep(PowerMemory& memory, const TransmitPower& command) {
  const auto proposal = memory.propose(command);
  if (!proposal.kept && !step_until(memory, [&] { return memory.outcome(proposal.ticket).has_value(); }))
    return std::unexpected(std::string("no outcome within 10 s"));
  auto outcome = proposal.kept ? std::expected<void, std::string>() : *memory.outcome(proposal.ticket);
  if (outcome) memory.commit(proposal.ticket);
  else memory.withdraw(proposal.ticket);
  return outcome;
}

TEST_F(StateFile, SaysInOneLineWhatItRestoresAndWhatItRefuses) {
  const struct {
    std::function<void(const fs::path&)> make;
    std::string line;  // " F " stands for the file's path
    std::vector<std::string> restored;
  } cases[] = {
      {[](const fs::path&) {}, "No transmit power remembered yet; F is written after the first accepted level", {}},
      {[](const fs::path& f) { write(f, "hci0 0x3f 0x0087 0x5\nhci1 0x3f 0x0087 0xE2\n"); },
       "Restores at power-on: hci0 0x3f 0x0087 0x5; hci1 0x3f 0x0087 0xe2",
       {"hci0 0x3f 0x0087 0x5", "hci1 0x3f 0x0087 0xe2"}},
      // What an older bridge kept: any command it was given.
      {[](const fs::path& f) { write(f, "hci0 0x3 0x31 0x1\n"); },
       "Nothing to restore at power-on: line 1 of F is not a transmit-power command",
       {}},
      {[](const fs::path& f) { write(f, "hci0 0x3f 0x0087 0x7f\nhci1 0x3f 0x0087 0xa\nhci00 0x3f 0x0087 0x5"); },
       "Restores at power-on: hci1 0x3f 0x0087 0xa (not restored: lines 1, 3 of F are not transmit-power commands)",
       {"hci1 0x3f 0x0087 0xa"}},
      {[](const fs::path& f) { write(f, ""); }, "Nothing to restore at power-on: F is empty", {}},
      {[](const fs::path& f) { fs::create_directory(f); },
       "Nothing to restore at power-on: F is not a regular file",
       {}},
      {[](const fs::path& f) { write(f, std::string(64 * 1024 + 1, '\n')); },
       "Nothing to restore at power-on: F is too large",
       {}},
  };
  for (const auto& c : cases) {
    fs::remove_all(file_);
    log_.clear();
    c.make(file_);
    const PowerByController kept = read_remembered(file_, log());
    std::string line = c.line;
    if (const auto at = line.find(" F "); at != std::string::npos) line.replace(at + 1, 1, file_.string());
    EXPECT_EQ(log_, std::vector<std::string>{line});
    EXPECT_EQ(remembered(kept), c.restored) << line;
  }
}

// The directory missing makes every write fail, whoever runs the test; once it is back, the next
// level is kept. A level withdrawn after it was written (its call's time ran out) is written over.
TEST_F(StateFile, KeepsALevelOnlyOnceWrittenAndWritesTheFileBackWhenOneIsWithdrawn) {
  const fs::path state = dir_ / "state";
  file_ = state / "transmit-power";
  PowerMemory kept = memory();
  const auto refused = keep(kept, power("hci0", "0x5"));
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "Cannot create " + file_.string() + ".new: No such file or directory");
  EXPECT_FALSE(kept.wanted("hci0"));
  fs::create_directory(state);
  EXPECT_TRUE(keep(kept, power("hci0", "0x6")));
  EXPECT_EQ(read(file_), "hci0 0x3f 0x0087 0x6\n");

  const auto late = kept.propose(power("hci0", "0x7"));
  ASSERT_TRUE(step_until(kept, [&] { return kept.outcome(late.ticket).has_value(); }));
  EXPECT_EQ(read(file_), "hci0 0x3f 0x0087 0x7\n");
  kept.withdraw(late.ticket);
  EXPECT_TRUE(step_until(kept, [&] { return read(file_) == "hci0 0x3f 0x0087 0x6\n"; }));
  EXPECT_EQ(kept.wanted("hci0"), power("hci0", "0x6"));
  EXPECT_EQ(log_,
            (std::vector<std::string>{
                "No transmit power remembered yet; " + file_.string() + " is written after the first accepted level",
                "Cannot keep the transmit power across restarts: Cannot create " + file_.string() +
                    ".new: No such file or directory",
                "The transmit power is kept across restarts again: " + file_.string() + " is written"}));
}

TEST_F(StateFile, IsNeitherReadNorWrittenThroughASymbolicLink) {
  const fs::path next = file_.string() + ".new";
  write(dir_ / "target", "hci0 0x3f 0x0087 0x5\n");
  write(dir_ / "other", "untouched\n");
  fs::create_symlink(dir_ / "target", file_);
  fs::create_symlink(dir_ / "other", next);

  PowerMemory kept = memory();
  EXPECT_TRUE(keep(kept, power("hci0", "0xa")));
  EXPECT_EQ(log_, std::vector<std::string>{"Nothing to restore at power-on: " + file_.string() +
                                           " is a symbolic link, which is not followed"});
  EXPECT_FALSE(fs::is_symlink(file_));
  EXPECT_EQ(read(file_), "hci0 0x3f 0x0087 0xa\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(next)));
  EXPECT_EQ(read(dir_ / "target"), "hci0 0x3f 0x0087 0x5\n");
  EXPECT_EQ(read(dir_ / "other"), "untouched\n");
}

}  // namespace
}  // namespace bridge
