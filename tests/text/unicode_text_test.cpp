#include <glib.h>
#include <gtest/gtest.h>

#include <memory>

#include "text/lower_case.hpp"
#include "text/white_space.hpp"

namespace {

using namespace text;

TEST(UnicodeText, KnowsExactlyTheWhiteSpaceCharacters) {
  const char32_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,  0x1680,
                            0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  const char32_t not_white[] = {0x08,   0x0E,   0x1F,   0x21,   0x84,   0x86,   0x180E,
                                0x200B, 0x200C, 0x2060, 0xFEFF, 0x1FFF, 0x202E, 0x3001};
  for (char32_t c : white) EXPECT_TRUE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
  for (char32_t c : not_white) EXPECT_FALSE(is_white_space(c)) << std::hex << static_cast<unsigned>(c);
}

TEST(UnicodeText, TrimsWhiteSpaceOfAnyLengthFromBothEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {" \t\r\n", ""},
      {"\u3000\u00A0a b\u2029\u0085", "a b"},
      {"\u200Ba\u200B", "\u200Ba\u200B"},
      {"\u00E9", "\u00E9"},
      {" \U0001F600 ", "\U0001F600"},
  };
  for (const auto& [text, trimmed] : cases) EXPECT_EQ(trim_white_space(text), trimmed) << text;
}

TEST(UnicodeText, FindsTheLastTokenAfterAnyWhiteSpace) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"", std::nullopt},
      {" \n\u3000", std::nullopt},
      {"0", "0"},
      {"a b c", "c"},
      {"status: 0x0c\n", "0x0c"},
      {"a\u00A0-12\u2028", "-12"},
      {"\u00E9\u00E9", "\u00E9\u00E9"},
  };
  for (const auto& [text, token] : cases) {
    auto found = last_token(text);
    EXPECT_EQ(found ? std::optional<std::string>(*found) : std::nullopt, token) << text;
  }
}

TEST(UnicodeText, LowerCasesWithTheFullMappingAndTheUsualFinalSigmaRule) {
  const std::pair<std::string, std::string> cases[] = {
      {"BLUETOOTH Range", "bluetooth range"},
      {"\u0130", "i\u0307"},                                     // dotted capital I takes a combining dot
      {"\u1E9E", "\u00DF"},                                      // capital sharp s
      {"\u039F\u0394\u039F\u03A3", "\u03BF\u03B4\u03BF\u03C2"},  // word-final sigma
      {"\u03A3\u0391 \u03A3", "\u03C3\u03B1 \u03C3"},            // no cased letter before it
      {"\u03A3", "\u03C3"},
      {"\u0391\u03A3\u0391", "\u03B1\u03C3\u03B1"},    // inside a word
      {"\u0391\u03A3'\u0391", "\u03B1\u03C3'\u03B1"},  // an apostrophe inside the word
      {"\u0391\u03A3\u0301", "\u03B1\u03C2\u0301"},    // a mark after the final sigma
      {"\u0391\u0301\u03A3", "\u03B1\u0301\u03C2"},    // a mark before it
      {"\u0391\u03A31", "\u03B1\u03C21"},
      {"\u0391\u03A3\u4E2D", "\u03B1\u03C2\u4E2D"},  // an uncased letter after it
      {std::string("A\0B", 3), std::string("a\0b", 3)},
      {"", ""},
  };
  for (const auto& [text, lowered] : cases) EXPECT_EQ(lower_case(text), lowered) << text;
}

TEST(UnicodeText, LowerCasesEveryAsciiCharacterAsGLibDoes) {
  // ASCII text is lower-cased without GLib; GLib's full mapping stays the reference.
  for (int c = 1; c < 0x80; ++c) {
    const std::string text = std::string("Ab") + static_cast<char>(c) + "Z";
    std::unique_ptr<gchar, decltype(&g_free)> expected(g_utf8_strdown(text.data(), -1), &g_free);
    EXPECT_EQ(lower_case(text), expected.get()) << c;
  }
}

}  // namespace
