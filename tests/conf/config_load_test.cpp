#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "src/conf/config_file.hpp"
#include "tests/conf/config_map_text.hpp"
#include "tests/harness/sandbox.hpp"

namespace {

using conf_test::map_text;
using harness::ScratchDirectory;
namespace config_file = src::config_file;

TEST(ConfigFileLoad, QuotesThePathAndTheSystemErrorWhenTheFileCannotBeRead) {
  ScratchDirectory scratch;
  const std::string missing = (scratch.path() / "bluetooth.conf").string();
  const std::string directory = (scratch.path() / "as-directory").string();
  std::filesystem::create_directory(directory);
  const std::string in_missing_directory = (scratch.path() / "none" / "bluetooth.conf").string();
  const std::string too_large = (scratch.path() / "too-large.conf").string();
  harness::write_file(too_large, "[Bluetooth]\nRange = 7\n" + std::string(64 * 1024, ';'));
  const std::string endless = (scratch.path() / "endless.conf").string();
  std::filesystem::create_symlink("/dev/zero", endless);

  struct Case {
    std::string path;
    std::string error;
  };
  const Case cases[] = {
      {missing, "couldn't open " + missing + ": No such file or directory (os error 2)"},
      {in_missing_directory, "couldn't open " + in_missing_directory + ": No such file or directory (os error 2)"},
      {directory, "couldn't read " + directory + ": Is a directory (os error 21)"},
      {too_large, "couldn't read " + too_large + ": larger than 65536 bytes"},
      {endless, "couldn't read " + endless + ": larger than 65536 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto map = config_file::load(c.path);
    ASSERT_FALSE(map.has_value());
    EXPECT_EQ(map.error(), c.error);
  }
}

TEST(ConfigFileLoad, RefusesTheWholeFileWhenAnyByteIsNotUtf8) {
  ScratchDirectory scratch;
  const std::string path = (scratch.path() / "bluetooth.conf").string();
  const std::string bad_files[] = {
      "[Bluetooth]\nRange = 7 ; caf\xE9\n",  // Latin-1 inside a comment
      "[Bluetooth]\nRange = 7\n\xC3",        // truncated at the very end
      "\xED\xA0\x80=1\n",                    // an encoded surrogate
      "\xC0\xAF=1\n",                        // an overlong form
  };
  for (const auto& bytes : bad_files) {
    harness::write_file(path, bytes);
    auto map = config_file::load(path);
    ASSERT_FALSE(map.has_value()) << map_text(*map);
    EXPECT_EQ(map.error(), "couldn't read " + path + ": stream did not contain valid UTF-8");
  }
}

TEST(ConfigFileLoad, ReadsFilesLongerThanOneReadWhole) {
  ScratchDirectory scratch;
  const std::string path = (scratch.path() / "bluetooth.conf").string();
  std::string bytes;
  for (int i = 0; i < 2000; ++i) bytes += "; filler line number " + std::to_string(i) + "\n";
  bytes += "[Bluetooth]\nRange = 9\n";
  harness::write_file(path, bytes);

  auto map = config_file::load(path);
  ASSERT_TRUE(map.has_value()) << map.error();
  EXPECT_EQ(map_text(*map), "bluetooth|range=9\n");
}

TEST(ConfigFileLoad, DoesNotHangOnAPipeWithoutWriterInPlaceOfTheFile) {
  ScratchDirectory scratch;
  const std::string path = (scratch.path() / "bluetooth.conf").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);

  auto map = config_file::load(path);
  ASSERT_TRUE(map.has_value()) << map.error();
  EXPECT_EQ(map_text(*map), "");
}

}  // namespace
