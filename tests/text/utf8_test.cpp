#include "text/utf8.hpp"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace text {
namespace {

const std::string r = "\xEF\xBF\xBD";

TEST(Utf8Test, RepairReplacesEachMaximalIllFormedSubsequenceWithOneReplacementCharacter) {
  const struct {
    std::string bytes, repaired;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"caf\u00E9 \U0001F600", "caf\u00E9 \U0001F600"},
      {std::string("\0", 1), std::string("\0", 1)},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xC3", r},          // cut short at the end
      {"\xC3(", r + "("},   // a lead without its continuation
      {"\xE2\x82", r},      // a three-byte character cut short
      {"\xF0\x9F\x98", r},  // a four-byte character cut short
      {"\xF0\x9F\x98z", r + "z"},
      {"\xF4\x8F\xBF", r},  // U+10FFFF cut short
      {"\xE1\x80\x41", r + "A"},
      {"\xC0\xAF", r + r},                     // overlong: no valid prefix at all
      {"\xE0\x80\xAF", r + r + r},             // overlong three-byte form
      {"\xF0\x80\x80\xAF", r + r + r + r},     // overlong four-byte form
      {"\xED\xA0\x80", r + r + r},             // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},     // above U+10FFFF
      {"\xF5\x80", r + r},                     // a lead that never starts anything
      {"\x80\xBF", r + r},                     // stray continuations
      {"\xE2\x82\xE2\x82\xAC", r + "\u20AC"},  // a cut-short character before a whole one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(repair_utf8(c.bytes), c.repaired);
    EXPECT_TRUE(is_utf8(repair_utf8(c.bytes)));
    EXPECT_EQ(is_utf8(c.bytes), c.bytes == c.repaired);
  }
}

TEST(Utf8Test, ReadsOneSequenceWithItsCodePointOrItsMaximalIllFormedPart) {
  const struct {
    std::string bytes;
    std::size_t length;
    bool well_formed;
    char32_t code_point;
  } cases[] = {
      {std::string("\0", 1), 1, true, 0x0},
      {"\x7F", 1, true, 0x7F},
      {"\xC2\x80", 2, true, 0x80},
      {"\xDF\xBF", 2, true, 0x7FF},
      {"\xE0\xA0\x80", 3, true, 0x800},
      {"\xED\x9F\xBF", 3, true, 0xD7FF},
      {"\xEF\xBF\xBF", 3, true, 0xFFFF},
      {"\xF0\x90\x80\x80", 4, true, 0x10000},
      {"\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF},
      {"\xF4\x8F\xBF", 3, false, 0xFFFD},
      {"\xED\xA0\x80", 1, false, 0xFFFD},
      {"\x80", 1, false, 0xFFFD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    const Sequence sequence = read_sequence(c.bytes + "z", 0);
    EXPECT_EQ(sequence.length, c.length);
    EXPECT_EQ(sequence.well_formed, c.well_formed);
    EXPECT_EQ(sequence.code_point, c.code_point);
  }
}

TEST(Utf8Test, AcceptsUtf8IncludingNulAndRefusesEverythingElse) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},          {std::string("a\0b", 3), true},    {"\u00E9\U0010FFFF", true},
      {"\xC3", false},     {std::string("\0\xC3", 2), false}, {"\xED\xA0\x80", false},
      {"\xC0\x80", false}, {"\xF4\x90\x80\x80", false},
  };
  for (const auto& [bytes, valid] : cases) EXPECT_EQ(text::is_utf8(bytes), valid) << bytes;
}

TEST(Utf8Test, FindsABadByteAtEveryPlaceInLongAsciiText) {
  // Long ASCII runs are checked a word at a time; a bad byte must be seen at any offset.
  const std::string ascii(40, 'a');
  for (std::size_t at = 0; at <= ascii.size(); ++at) {
    SCOPED_TRACE(at);
    const std::string bad = ascii.substr(0, at) + "\xFF" + ascii.substr(at);
    EXPECT_FALSE(is_utf8(bad));
    EXPECT_EQ(repair_utf8(bad), ascii.substr(0, at) + r + ascii.substr(at));
    const std::string good = ascii.substr(0, at) + "\u00E9" + ascii.substr(at);
    EXPECT_TRUE(is_utf8(good));
    EXPECT_EQ(repair_utf8(good), good);
  }
}

// Appending a string that libdbus thinks malformed aborts the process, so is_utf8 must never
// pass what libdbus refuses; refusing what it accepts would needlessly mangle text.
bool libdbus_accepts(const std::string& text) {
  DBusError record;
  dbus_error_init(&record);
  const bool valid = dbus_validate_utf8(text.c_str(), &record);
  dbus_error_free(&record);
  return valid;
}

TEST(Utf8Test, AgreesWithLibdbusOnEveryShortSequence) {
  const std::vector<unsigned char> trailing = {0x01, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                               0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF};
  std::vector<std::string> texts;
  for (unsigned lead = 1; lead <= 0xFF; ++lead) {
    for (unsigned second = 1; second <= 0xFF; ++second) {
      texts.push_back({static_cast<char>(lead), static_cast<char>(second)});
    }
    if (lead < 0xE0) continue;
    for (unsigned char second : trailing) {
      for (unsigned char third : trailing) {
        texts.push_back({static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third)});
        for (unsigned char fourth : trailing) {
          texts.push_back({static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third),
                           static_cast<char>(fourth)});
        }
      }
    }
  }
  for (const char* text : {"\xEF\xBF\xBE", "\xEF\xB7\x90", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF", "\xEE\x80\x80"}) {
    texts.emplace_back(text);  // noncharacters and the code points around the surrogates
  }
  for (const std::string& text : texts) {
    ASSERT_EQ(is_utf8(text), libdbus_accepts(text)) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace text
