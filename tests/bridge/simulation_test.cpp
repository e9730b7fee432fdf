// The emulated controller's control file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "bridge/transport/control_file.hpp"

namespace bridge {
namespace {

using namespace std::chrono_literals;

TEST(SimulationControlFile, ReadsEveryKey) {
  const auto control = parse_control(
      "# steer the next calls\n"
      "status=-5\r\n"
      "extra=05 ff\n"
      "answer=pending\n"
      "before=advertising\n"
      "\n"
      "delay_ms=6000\n"
      "reply=text\n"
      "error_name=com.example.Error.Busy\n"
      "error_message=busy = really busy\n"
      "text=line 1\\nline\\t2\\\\n\n");
  ASSERT_TRUE(control.has_value()) << control.error();
  EXPECT_EQ(control->status, -5);
  EXPECT_EQ(control->extra, (std::vector<std::uint8_t>{0x05, 0xff}));
  EXPECT_EQ(control->answer, SimulatedAnswer::pending);
  EXPECT_EQ(control->before, SimulatedNoise::advertising);
  EXPECT_EQ(control->delay, 6000ms);
  EXPECT_EQ(control->reply, SimulatedReply::text);
  EXPECT_EQ(control->error_name, "com.example.Error.Busy");
  EXPECT_EQ(control->error_message, "busy = really busy");
  EXPECT_EQ(control->text, "line 1\nline\t2\\n");
}

TEST(SimulationControlFile, DefaultsToAnImmediateAnswerOfStatusZero) {
  const auto control = parse_control("");
  ASSERT_TRUE(control.has_value());
  EXPECT_EQ(control->status, 0);
  EXPECT_EQ(control->delay, 0ms);
  EXPECT_EQ(control->reply, SimulatedReply::output);
  EXPECT_EQ(control->error_name, std::nullopt);  // the standard Failed
  EXPECT_EQ(control->error_message, "simulated failure");

  const auto missing = load_control("/nonexistent-dir/control");
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->reply, SimulatedReply::output);
}

TEST(SimulationControlFile, RefusesWhatItCannotHonourNamingTheLine) {
  const struct {
    std::string content, message;
  } cases[] = {
      {"status=0x0c\n", "Control file line 1: status must be a decimal integer"},
      {"status=\n", "Control file line 1: status must be a decimal integer"},
      {"status=99999999999\n", "Control file line 1: status must be a decimal integer"},
      {"status=256\n", "Control file line 1: status must lie between -128 and 255"},
      {"extra=5\n", "Control file line 1: extra must be at most 250 bytes of two hex digits each, separated by blanks"},
      {"extra=0g\n",
       "Control file line 1: extra must be at most 250 bytes of two hex digits each, separated by blanks"},
      {"answer=later\n", "Control file line 1: answer must be one of complete, status, pending, none"},
      {"before=beacon\n", "Control file line 1: before must be one of none, packets, advertising, other"},
      {"\nreply=fancy\n", "Control file line 2: reply must be one of output, error, empty, uint32, text"},
      {"delay_ms=-1", "Control file line 1: delay_ms must lie between 0 and 60000"},
      {"delay_ms=60001", "Control file line 1: delay_ms must lie between 0 and 60000"},
      {"statue=1\n", "Control file line 1: unknown key \"statue\""},
      {"status 1\n", "Control file line 1: expected key=value"},
      {"text=a\\x\n", "Control file line 1: text has an unknown escape \\x"},
      {"text=a\\", "Control file line 1: text ends in a lone backslash"},
  };
  for (const auto& c : cases) {
    const auto control = parse_control(c.content);
    ASSERT_FALSE(control.has_value()) << c.content;
    EXPECT_EQ(control.error(), c.message);
  }
}

TEST(SimulationControlFile, IsReadFromDiskAndAnUnreadableOneIsAnError) {
  const auto dir = std::filesystem::temp_directory_path() / ("bridge-control-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "control") << "reply=uint32\nstatus=3\n";
  const auto control = load_control(dir / "control");
  ASSERT_TRUE(control.has_value()) << control.error();
  EXPECT_EQ(control->reply, SimulatedReply::uint32);
  EXPECT_EQ(control->status, 3);

  const auto directory = load_control(dir);
  ASSERT_FALSE(directory.has_value());
  EXPECT_EQ(directory.error(), "Cannot read control file " + dir.string() + ": Is a directory");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace bridge
