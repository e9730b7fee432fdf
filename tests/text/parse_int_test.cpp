#include <gtest/gtest.h>

#include "text/parse_int.hpp"

namespace {

using text::parse_i8;
using text::ParseIntError;

TEST(ParseI8, AcceptsOneOptionalSignAndDecimalDigitsOnly) {
  const std::pair<const char*, std::int8_t> accepted[] = {
      {"0", 0},     {"-0", 0},      {"+7", 7},      {"007", 7}, {"30", 30},
      {"127", 127}, {"-128", -128}, {"+0127", 127}, {"-1", -1}, {"0000000000000000000012", 12},
  };
  for (const auto& [text, value] : accepted) {
    auto parsed = parse_i8(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(*parsed, value) << text;
  }
}

TEST(ParseI8, LetsTheFirstOffendingCharacterDecideTheError) {
  const std::pair<const char*, ParseIntError> refused[] = {
      {"", ParseIntError::empty},
      {"+", ParseIntError::invalid_digit},
      {"-", ParseIntError::invalid_digit},
      {"7a", ParseIntError::invalid_digit},
      {"+-1", ParseIntError::invalid_digit},
      {"--1", ParseIntError::invalid_digit},
      {"1 2", ParseIntError::invalid_digit},
      {" 1", ParseIntError::invalid_digit},
      {"0x1f", ParseIntError::invalid_digit},
      {"1.0", ParseIntError::invalid_digit},
      {"\u0661", ParseIntError::invalid_digit},  // a digit of another script
      {"128", ParseIntError::too_large},
      {"1000", ParseIntError::too_large},
      {"999a", ParseIntError::too_large},         // the overflow comes before the letter
      {"12a9999", ParseIntError::invalid_digit},  // the letter comes before the overflow
      {"-129", ParseIntError::too_small},
      {"-999x", ParseIntError::too_small},
      {"99999999999999999999", ParseIntError::too_large},
  };
  for (const auto& [text, error] : refused) {
    auto parsed = parse_i8(text);
    ASSERT_FALSE(parsed.has_value()) << text << " gave " << int{*parsed};
    EXPECT_EQ(parsed.error(), error) << text;
  }
}

}  // namespace
