#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "src/conf/config_file.hpp"
#include "tests/harness/sandbox.hpp"

namespace {

using harness::ScratchDirectory;
namespace config_file = src::config_file;

// Runs `action` with standard error sent to a file and gives what it wrote there.
std::string standard_error_of(const std::function<void()>& action, const std::filesystem::path& scratch) {
  const auto capture = scratch / "stderr";
  std::fflush(stderr);
  int saved = ::dup(STDERR_FILENO);
  std::FILE* file = std::fopen(capture.c_str(), "w");
  ::dup2(::fileno(file), STDERR_FILENO);
  action();
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::fclose(file);
  auto text = harness::read_file(capture);
  std::filesystem::remove(capture);
  return text.value_or("<unreadable>");
}

TEST(ConfigFileStore, FormatsTheTwoLineFileForTheLevel) {
  struct Case {
    std::int8_t level;
    std::string contents;
  };
  const Case cases[] = {
      {0, "[Bluetooth]\nRange = 0\n"},
      {7, "[Bluetooth]\nRange = 7\n"},
      {25, "[Bluetooth]\nRange = 25\n"},
      {30, "[Bluetooth]\nRange = 30\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(config_file::contents_for(c.level), c.contents);
  }
  EXPECT_EQ(config_file::contents_for(0).size(), 22u);
  EXPECT_EQ(config_file::contents_for(25).size(), 23u);
}

TEST(ConfigFileStore, ReplacesTheWholeFileWithOurOwnerAndMode0644) {
  ScratchDirectory scratch;
  const auto path = scratch.path() / "bluetooth.conf";
  harness::write_file(path, "; a comment that goes\n[Other]\nkey = value\n[Bluetooth]\nRange = 3\n");
  ::chmod(path.c_str(), 0600);

  std::string complaints = standard_error_of([&] { config_file::store(path.string(), 25); }, scratch.path());

  EXPECT_EQ(complaints, "");
  EXPECT_EQ(harness::read_file(path), "[Bluetooth]\nRange = 25\n");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(info.st_uid, ::getuid());
  EXPECT_EQ(info.st_gid, ::getgid());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);
}

TEST(ConfigFileStore, ComplainsOnStandardErrorWithTheLibraryMessageMadeValidUtf8) {
  ScratchDirectory scratch;
  struct Case {
    std::string directory_name;
    std::string shown_name;
  };
  const Case cases[] = {
      {"missing", "missing"},
      {"caf\xE9", "caf\uFFFD"},
      {"x\xF0\x9F\x98y", "x\uFFFDy"},
  };
  for (const auto& c : cases) {
    const std::string path = (scratch.path() / c.directory_name / "bluetooth.conf").string();
    const std::string shown = (scratch.path() / c.shown_name / "bluetooth.conf").string();
    std::string complaints = standard_error_of([&] { config_file::store(path, 7); }, scratch.path());
    EXPECT_EQ(complaints,
              "Error: Failed to create a temporary file for \"" + shown + "\": No such file or directory\n");
  }
}

}  // namespace
