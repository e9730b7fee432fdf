// A writer killed with SIGKILL at random moments while it replaces a file through libcfgkit,
// 500 times: each time the file must hold exactly the last generation the writer reported or
// the one it was writing, whole, and the library's temporary files must not pile up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <charconv>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/harness/process.hpp"
#include "tests/harness/sandbox.hpp"
#include "tests/reliability/generations.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;

constexpr int kills = 500;
constexpr const char* file_name = "bluetooth.conf";

std::vector<std::string> entries_of(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The generations the writer reported as stored, counted from its output.
std::size_t reported(const std::string& output) {
  std::size_t lines = 0;
  for (char c : output) lines += c == '\n';
  return lines;
}

harness::Process start_writer(const std::filesystem::path& file, std::size_t first, std::size_t count = 0) {
  return harness::Process(CFGKIT_WRITER_PATH,
                          {.arguments = {file.string(), std::to_string(first), std::to_string(count)}});
}

TEST(PowerLoss, KillingAWriterAtRandomLeavesTheOldOrTheNewFileWholeAndNoTemporariesPileUp) {
  harness::ScratchDirectory directory;
  const auto file = directory.path() / file_name;
  harness::write_file(file, generation_contents(0));

  std::mt19937 random(20261207);
  std::uniform_int_distribution<std::size_t> generations_before_kill(0, 3);
  std::size_t stored = 0;  // the generation the file must hold at least
  std::size_t killed_mid_write = 0;
  for (int round = 0; round < kills; ++round) {
    const std::size_t first = stored + 1;
    harness::Process writer = start_writer(file, first);
    const std::size_t target = generations_before_kill(random);
    ASSERT_TRUE(writer.wait_until([&] { return reported(writer.standard_output()) >= target; }, 20s))
        << writer.standard_error();
    writer.send_signal(SIGKILL);
    ASSERT_EQ(writer.wait_for_exit(10s), harness::ExitStatus::killed(SIGKILL)) << writer.standard_error();

    // What the writer finished, then the one it may have been in the middle of.
    const std::size_t finished = first - 1 + reported(writer.standard_output());
    const auto contents = harness::read_file(file);
    ASSERT_TRUE(contents.has_value()) << "round " << round << ": the file is gone";
    if (*contents == generation_contents(finished)) {
      stored = finished;
    } else {
      ASSERT_EQ(*contents, generation_contents(finished + 1)) << "round " << round << ": partial or stale file";
      stored = finished + 1;
    }
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u) << "round " << round;

    // The write that was cut short may leave its own temporary behind, never older ones.
    const auto names = entries_of(directory.path());
    ASSERT_LE(names.size(), 2u) << "round " << round << ": temporaries pile up: " << ::testing::PrintToString(names);
    killed_mid_write += names.size() == 2;
  }

  // The next write that completes clears what the killed one left.
  harness::Process writer = start_writer(file, stored + 1, 1);
  ASSERT_EQ(writer.wait_for_exit(20s), harness::ExitStatus::exited(0)) << writer.standard_error();
  EXPECT_EQ(harness::read_file(file), generation_contents(stored + 1));
  EXPECT_EQ(entries_of(directory.path()), std::vector<std::string>{file_name});
  RecordProperty("kills", kills);
  RecordProperty("killed_with_a_temporary_left", static_cast<int>(killed_mid_write));
  std::printf("power loss: %d kills, %zu left a temporary behind, generation %zu stored last\n", kills,
              killed_mid_write, stored);
}

}  // namespace
}  // namespace reliability
