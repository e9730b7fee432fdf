#include <gtest/gtest.h>

#include "src/error.hpp"

namespace {

using src::Error;

TEST(ErrorReport, PrintsTheMessageAndEveryCauseInTheFixedLayout) {
  struct Case {
    const char* what;
    Error error;
    std::string report;
  };
  const Case cases[] = {
      {"no causes", Error("No section"), "Error: No section\n"},
      {"an empty message", Error(""), "Error: \n"},
      {"one cause", Error("outer", {"inner"}), "Error: outer\n\nCaused by:\n    inner\n"},
      {"one cause over two lines", Error("outer", {"first\nsecond"}),
       "Error: outer\n\nCaused by:\n    first\n    second\n"},
      {"numbered causes", Error("outer", {"a", "b"}), "Error: outer\n\nCaused by:\n    0: a\n    1: b\n"},
      {"numbered causes over several lines", Error("outer", {"a\nb", "c\n\nd"}),
       "Error: outer\n\nCaused by:\n    0: a\n       b\n    1: c\n       \n       d\n"},
      {"a message over two lines keeps its own layout", Error("x\ny"), "Error: x\ny\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.report(), c.report) << c.what;
}

TEST(ErrorReport, RightAlignsCauseNumbersInFiveColumns) {
  std::vector<std::string> causes(12, "c");
  std::string report = Error("m", causes).report();
  EXPECT_NE(report.find("\n    9: c\n   10: c\n   11: c\n"), std::string::npos) << report;
  EXPECT_TRUE(report.ends_with("   11: c\n")) << report;
}

}  // namespace
