// How outside text is quoted inside error messages.
#include "text/quoted.hpp"

#include <gtest/gtest.h>

#include <string>

namespace text {
namespace {

TEST(Quoted, EscapesWhatIsAmbiguousOrInvisible) {
  const struct {
    std::string text, quoted;
  } cases[] = {
      {"", "\"\""},
      {"name 'x.y'", "\"name 'x.y'\""},                    // plain, with space and single quotes
      {"a\"b\\c", "\"a\\\"b\\\\c\""},                      // double quote and backslash
      {std::string("\t\r\n\0|", 5), "\"\\t\\r\\n\\0|\""},  // short escapes
      {"\x01\x1b\x7f", "\"\\u{1}\\u{1b}\\u{7f}\""},        // other controls
      {"\xC2\x85", "\"\\u{85}\""},                         // C1 control next line
      {"a\xC2\xA0"
       "b",
       "\"a\\u{a0}b\""},                                       // no-break space
      {"\xE3\x80\x80", "\"\\u{3000}\""},                       // ideographic space
      {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u{2028}\\u{2029}\""},  // line and paragraph separators
      {"\xE2\x80\x8B\xEF\xBB\xBF", "\"\\u{200b}\\u{feff}\""},  // format characters
      {"\xCD\xB8", "\"\\u{378}\""},                            // unassigned code point
      {"\xEE\x80\x80", "\"\\u{e000}\""},                       // private use
      {"\xF4\x8F\xBF\xBF", "\"\\u{10ffff}\""},                 // noncharacter at the plane's end
      {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xE2\x82\xAC",     // printable letters and symbols
       "\"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xE2\x82\xAC\""},
      {"a\xFF\xC3", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""},  // bytes that are not UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(text::quoted(c.text), c.quoted) << testing::PrintToString(c.text);
}

TEST(Quoted, QuotesALongTextByItsFirstWholeCharactersAndItsLength) {
  EXPECT_EQ(text::quoted_start("abc", 3), "\"abc\"");
  EXPECT_EQ(text::quoted_start("a\nbc", 3), "\"a\\nb\"... (4 bytes)");
  EXPECT_EQ(text::quoted_start("ab\xC3\xA9", 3), "\"ab\"... (4 bytes)");  // never inside a character
}

}  // namespace
}  // namespace text
