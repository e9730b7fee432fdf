#include <gtest/gtest.h>

#include "src/conf/config_file.hpp"
#include "tests/conf/config_map_text.hpp"

namespace {

using conf_test::map_text;
namespace config_file = src::config_file;

struct ParseCase {
  const char* what;
  std::string text;
  std::string map;  // map_text of the result
};

TEST(ConfigFileParse, TurnsEachKindOfLineIntoTheExpectedEntries) {
  const ParseCase cases[] = {
      {"the stored setting", "[Bluetooth]\nRange = 12\n", "bluetooth|range=12\n"},
      {"keys before any header", "Range = 3\n", "default|range=3\n"},
      {"a semicolon comment inside a value", "RANGE=5 ; comment", "default|range=5\n"},
      {"a hash comment right after a value", "range = 5#x", "default|range=5\n"},
      {"a colon is no separator", "range : 5", "default|range : 5\n"},
      {"further equals signs stay in the value", "url = a=b", "default|url=a=b\n"},
      {"a value keeps its case", "Name = MiXeD", "default|name=MiXeD\n"},
      {"an empty value is present", "range =", "default|range=\n"},
      {"a bare key has no value", "range", "default|range\n"},
      {"a bracket in a key line makes it a header", "name = a[1]\nk=v", "1|k=v\n"},
      {"a header is trimmed and lower-cased inside", "[ Blue Tooth ]\nk=v", "blue tooth|k=v\n"},
      {"text around the brackets is ignored", "x [A] y\nk=v", "a|k=v\n"},
      {"a header uses its last closing bracket", "[a]b]\nk=v", "a]b|k=v\n"},
      {"a header alone creates no section", "[Bluetooth]\n", ""},
      {"an empty file gives an empty map", "", ""},
      {"the last line wins", "[b]\nrange=1\nrange=2\n", "b|range=2\n"},
      {"a later bare key replaces a value", "[b]\nrange=1\nRange\n", "b|range\n"},
      {"headers folding alike feed one section", "[BT]\na=1\n[bt]\nb=2\n", "bt|a=1\nbt|b=2\n"},
      {"Windows line ends", "[Bluetooth]\r\nRange = 7\r\n", "bluetooth|range=7\n"},
      {"a lone carriage return is no line end", "a=1\rb=2", "default|a=1\rb=2\n"},
      {"a byte-order mark stays part of a key", "\xEF\xBB\xBFrange=7", "default|\xEF\xBB\xBFrange=7\n"},
      {"a byte-order mark before a header is text before the bracket", "\xEF\xBB\xBF[Bluetooth]\nrange=7",
       "bluetooth|range=7\n"},
      {"Unicode white space is trimmed", "\u00A0range\u3000=\u2003 5\u0085\u2029", "default|range=5\n"},
      {"a zero-width space is not white space", "range=5\u200B", "default|range=5\u200B\n"},
      {"a vertical tab is white space", "\vrange=5\v", "default|range=5\n"},
      {"names get the full lower-case mapping", "[\u0130]\nK\u0130=\u0130", "i\u0307|ki\u0307=\u0130\n"},
      {"a word-final capital sigma becomes final sigma", "[\u039F\u0394\u039F\u03A3]\nk=v",
       "\u03BF\u03B4\u03BF\u03C2|k=v\n"},
      {"a NUL byte is an ordinary character", std::string("a\0b=c", 5), std::string("default|a\0b=c\n", 14)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto map = config_file::parse(c.text);
    ASSERT_TRUE(map.has_value()) << map.error();
    EXPECT_EQ(map_text(*map), c.map);
  }
}

struct SyntaxErrorCase {
  const char* what;
  std::string text;
  std::string error;
};

TEST(ConfigFileParse, NamesTheZeroBasedLineAndByteOffsetOfASyntaxError) {
  const SyntaxErrorCase cases[] = {
      {"an unclosed header on the first line", "[Bluetooth", "line 0:0: Found opening bracket but no closing bracket"},
      {"leading blanks do not count", "  [Bluetooth\n", "line 0:0: Found opening bracket but no closing bracket"},
      {"a bracket inside a value", "name = [x", "line 0:7: Found opening bracket but no closing bracket"},
      {"offsets count bytes", "\u00E4 = [x", "line 0:5: Found opening bracket but no closing bracket"},
      {"a closing bracket before the opening one", "]x[", "line 0:2: Found opening bracket but no closing bracket"},
      {"a comment cuts the closing bracket off", "[Blue;tooth]",
       "line 0:0: Found opening bracket but no closing bracket"},
      {"an empty key on the third line", "a=1\nb=2\n= 5", "line 2:0: Key cannot be empty"},
      {"blank and comment lines are counted", "# c\n\n\t= x\n", "line 2:0: Key cannot be empty"},
      {"CRLF lines are counted once", "a=1\r\n\r\n=", "line 2:0: Key cannot be empty"},
      {"a key of white space only", "\u3000 = 5", "line 0:0: Key cannot be empty"},
      {"the first error ends the reading", "[x\n=1\n", "line 0:0: Found opening bracket but no closing bracket"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto map = config_file::parse(c.text);
    ASSERT_FALSE(map.has_value()) << map_text(*map);
    EXPECT_EQ(map.error(), c.error);
  }
}

TEST(ConfigFileParse, ReadsBackWhatTheWriterProducesForEveryLevel) {
  for (int level = 0; level <= 30; ++level) {
    auto map = config_file::parse(config_file::contents_for(static_cast<std::int8_t>(level)));
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ(map_text(*map), "bluetooth|range=" + std::to_string(level) + "\n");
  }
}

}  // namespace
