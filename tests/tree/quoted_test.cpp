// How outside text is quoted inside error messages.
#include <gtest/gtest.h>

#include <string>

#include "messages.hpp"
#include "tree/properties.hpp"

namespace tree_test {
namespace {

using tree_test::PrintTo;

struct QuoteCase {
  const char* what;
  std::string text;
  std::string quoted;
};

class Quoted : public testing::TestWithParam<QuoteCase> {};

TEST_P(Quoted, EscapesWhatIsAmbiguousOrInvisible) { EXPECT_EQ(tree::quoted(GetParam().text), GetParam().quoted); }

INSTANTIATE_TEST_SUITE_P(
    Texts, Quoted,
    testing::Values(QuoteCase{"Empty", "", "\"\""},
                    QuoteCase{"PlainWithSpaceAndSingleQuotes", "name 'x.y'", "\"name 'x.y'\""},
                    QuoteCase{"DoubleQuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                    QuoteCase{"ShortEscapes", std::string("\t\r\n\0|", 5), "\"\\t\\r\\n\\0|\""},
                    QuoteCase{"OtherControls", "\x01\x1b\x7f", "\"\\u{1}\\u{1b}\\u{7f}\""},
                    QuoteCase{"C1ControlNextLine", "\xC2\x85", "\"\\u{85}\""},
                    QuoteCase{"NoBreakSpace",
                              "a\xC2\xA0"
                              "b",
                              "\"a\\u{a0}b\""},
                    QuoteCase{"IdeographicSpace", "\xE3\x80\x80", "\"\\u{3000}\""},
                    QuoteCase{"LineAndParagraphSeparators", "\xE2\x80\xA8\xE2\x80\xA9", "\"\\u{2028}\\u{2029}\""},
                    QuoteCase{"FormatCharacters", "\xE2\x80\x8B\xEF\xBB\xBF", "\"\\u{200b}\\u{feff}\""},
                    QuoteCase{"UnassignedCodePoint", "\xCD\xB8", "\"\\u{378}\""},
                    QuoteCase{"PrivateUse", "\xEE\x80\x80", "\"\\u{e000}\""},
                    QuoteCase{"NoncharacterAtPlaneEnd", "\xF4\x8F\xBF\xBF", "\"\\u{10ffff}\""},
                    QuoteCase{"PrintableLettersAndSymbols", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xE2\x82\xAC",
                              "\"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xE2\x82\xAC\""},
                    QuoteCase{"BytesThatAreNotUtf8", "a\xFF\xC3", "\"a\xEF\xBF\xBD\xEF\xBF\xBD\""}),
    case_name<QuoteCase>);

}  // namespace
}  // namespace tree_test
