#include <cfgkit.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/harness/sandbox.hpp"

namespace {

using harness::ScratchDirectory;
using harness::SmallFileSystem;

struct Outcome {
  int result;
  std::string message;  // empty when no record was left
  int code = -1;
};

Outcome replace(const std::string& path, const std::string& contents, mode_t mode = 0644, uid_t owner = ::getuid(),
                gid_t group = ::getgid()) {
  GError* error = nullptr;
  int result = cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.c_str(), contents.size(), owner, group,
                                                       mode, &error);
  Outcome outcome{result, error ? error->message : "", error ? error->code : -1};
  if (error) {
    EXPECT_EQ(error->domain, G_FILE_ERROR);
  }
  g_clear_error(&error);
  return outcome;
}

std::vector<std::string> entries_of(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Cfgkit, WritesExactlyTheGivenBytesWithOwnerGroupAndMode) {
  REQUIRE_ROOT("files given to other owners");
  ScratchDirectory scratch;
  struct Case {
    std::string contents;
    mode_t mode;
    uid_t owner;
    gid_t group;
  };
  const Case cases[] = {
      {"[Bluetooth]\nRange = 7\n", 0644, ::getuid(), ::getgid()},
      {"", 0600, 1234, 5678},
      {std::string("with\0NUL\0bytes", 14), 0640, 0, 0},
      {std::string(300000, 'x'), 0444, 65534, 65534},
  };
  const auto path = scratch.path() / "bluetooth.conf";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents.size());
    Outcome outcome = replace(path, c.contents, c.mode, c.owner, c.group);
    ASSERT_NE(outcome.result, 0) << outcome.message;
    EXPECT_EQ(outcome.message, "");
    EXPECT_EQ(harness::read_file(path), c.contents);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_EQ(info.st_uid, c.owner);
    EXPECT_EQ(info.st_gid, c.group);
    EXPECT_EQ(entries_of(scratch.path()), std::vector<std::string>{"bluetooth.conf"});
  }
}

TEST(Cfgkit, ReplacesAFileGivenByARelativePath) {
  ScratchDirectory scratch;
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  Outcome outcome = replace("bluetooth.conf", "[Bluetooth]\nRange = 1\n");
  std::filesystem::current_path(previous);

  ASSERT_NE(outcome.result, 0) << outcome.message;
  EXPECT_EQ(harness::read_file(scratch.path() / "bluetooth.conf"), "[Bluetooth]\nRange = 1\n");
}

// Each failure must name the path and the system error, keep the old file and leave nothing behind.
TEST(Cfgkit, FailsCleanlyAndKeepsTheOldFileWhenStorageRefuses) {
  REQUIRE_ROOT(harness::sandbox_mounts);
  const std::string old_contents = "[Bluetooth]\nRange = 3\n";
  struct Case {
    const char* what;
    std::function<std::filesystem::path(const std::filesystem::path&)> prepare;  // gives the target
    std::string contents;
    std::string message_after_path;
    int code;
    bool read_only = false;
  };
  const Case cases[] = {
      {"a read-only file system", [&](const std::filesystem::path& dir) { return dir / "bluetooth.conf"; },
       "[Bluetooth]\nRange = 9\n", "Failed to create a temporary file for \"%s\": Read-only file system",
       G_FILE_ERROR_ROFS, true},
      {"a full file system", [&](const std::filesystem::path& dir) { return dir / "bluetooth.conf"; },
       std::string(256 * 1024, 'x'), "Failed to write \"%s\": No space left on device", G_FILE_ERROR_NOSPC},
      {"a directory standing at the path",
       [&](const std::filesystem::path& dir) {
         std::filesystem::create_directory(dir / "taken");
         return dir / "taken";
       },
       "[Bluetooth]\nRange = 9\n", "Failed to replace \"%s\": Is a directory", G_FILE_ERROR_ISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SmallFileSystem storage(64 * 1024);
    const auto target = c.prepare(storage.path());
    if (!std::filesystem::is_directory(target)) harness::write_file(target, old_contents);
    const auto before = entries_of(storage.path());
    if (c.read_only) storage.make_read_only();

    Outcome outcome = replace(target, c.contents);

    EXPECT_EQ(outcome.result, 0);
    std::string expected = c.message_after_path;
    expected.replace(expected.find("%s"), 2, target.string());
    EXPECT_EQ(outcome.message, expected);
    EXPECT_EQ(outcome.code, c.code);
    if (!std::filesystem::is_directory(target)) {
      EXPECT_EQ(harness::read_file(target), old_contents);
    }
    EXPECT_EQ(entries_of(storage.path()), before);
  }
}

TEST(Cfgkit, FailsWhenTheDirectoryIsMissingOrTheArgumentsAreUnusable) {
  ScratchDirectory scratch;
  const std::string missing = (scratch.path() / "gone" / "bluetooth.conf").string();
  Outcome outcome = replace(missing, "x");
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.message, "Failed to create a temporary file for \"" + missing + "\": No such file or directory");
  EXPECT_EQ(outcome.code, G_FILE_ERROR_NOENT);

  GError* error = nullptr;
  EXPECT_EQ(cfgkit_set_file_contents_with_sync_full(nullptr, "x", 1, 0, 0, 0644, &error), 0);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(std::string(error->message), "Invalid arguments for \"\": Invalid argument");
  g_clear_error(&error);

  const std::string path = (scratch.path() / "f").string();
  EXPECT_EQ(cfgkit_set_file_contents_with_sync_full(path.c_str(), nullptr, 3, 0, 0, 0644, &error), 0);
  g_clear_error(&error);
  EXPECT_FALSE(std::filesystem::exists(path));

  // Callers that do not want the record may pass no place for it.
  EXPECT_EQ(cfgkit_set_file_contents_with_sync_full(missing.c_str(), "x", 1, 0, 0, 0644, nullptr), 0);
}

}  // namespace
