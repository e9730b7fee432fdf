#pragma once
// Parameterised cases of the tree's tables, named and printed after their `what` field.
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace tree_test {

// Each test file brings this in with a using-declaration, where argument-dependent lookup sees it.
template <class Case>
requires requires(const Case& c) { c.what; }
void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }

template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param) {
  return param.param.what;
}

}  // namespace tree_test
