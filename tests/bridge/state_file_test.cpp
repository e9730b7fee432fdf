// The file that keeps the service's levels across restarts: what a file at start gives, a write
// that fails and is repaired, and symbolic links in the way.
#include <gtest/gtest.h>
#include <stdlib.h>

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

  PowerMemory memory() {
    return PowerMemory(file_, [this](std::string_view line) { log_.emplace_back(line); });
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

std::vector<std::string> remembered(const PowerMemory& memory) {
  std::vector<std::string> lines;
  for (const auto& controller : memory.controllers()) lines.push_back(command_line(*memory.last_for(controller)));
  return lines;
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
    const PowerMemory kept = memory();
    std::string line = c.line;
    if (const auto at = line.find(" F "); at != std::string::npos) line.replace(at + 1, 1, file_.string());
    EXPECT_EQ(log_, std::vector<std::string>{line});
    EXPECT_EQ(remembered(kept), c.restored) << line;
  }
}

// The directory missing makes every write fail, whoever runs the test; once it is back, the
// next write repairs the file, whatever triggers it.
TEST_F(StateFile, WritesAgainAfterAFailureAndLogsTheFailureAndTheRepairOnceEach) {
  const struct {
    const char* repair;
    std::function<void(PowerMemory&)> repair_by;
  } cases[] = {
      {"the same command again", [](PowerMemory& kept) { kept.remember(power("hci0", "0x6")); }},
      {"a power-on", [](PowerMemory& kept) { kept.write_again_if_failed(); }},
  };
  const fs::path state = dir_ / "state";
  file_ = state / "transmit-power";
  for (const auto& c : cases) {
    fs::remove_all(state);
    log_.clear();
    PowerMemory kept = memory();
    kept.remember(power("hci0", "0x5"));
    kept.remember(power("hci0", "0x6"));
    fs::create_directory(state);
    c.repair_by(kept);
    kept.remember(power("hci0", "0x6"));
    EXPECT_EQ(log_,
              (std::vector<std::string>{
                  "No transmit power remembered yet; " + file_.string() + " is written after the first accepted level",
                  "Cannot keep the transmit power across restarts: Cannot create " + file_.string() +
                      ".new: No such file or directory",
                  "The transmit power is kept across restarts again: " + file_.string() + " is written"}))
        << c.repair;
    EXPECT_EQ(read(file_), "hci0 0x3f 0x0087 0x6\n") << c.repair;
  }
}

TEST_F(StateFile, IsNeitherReadNorWrittenThroughASymbolicLink) {
  const fs::path next = file_.string() + ".new";
  write(dir_ / "target", "hci0 0x3f 0x0087 0x5\n");
  write(dir_ / "other", "untouched\n");
  fs::create_symlink(dir_ / "target", file_);
  fs::create_symlink(dir_ / "other", next);

  PowerMemory kept = memory();
  kept.remember(power("hci0", "0xa"));
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
