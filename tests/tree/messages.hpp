#pragma once
// Building method calls in memory and writing replies out as text that tests compare exactly.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "dbus/message.hpp"

namespace tree_test {

// Arguments as tokens: "s:text", "i:42", "y:7", and "v:" followed by one of those for a variant.
using Args = std::vector<std::string>;

// A method call with a serial, so replies can be built to it. An empty path or interface is left out.
bus::Message call(std::string_view path, std::string_view interface, std::string_view member, const Args& args = {});

// `return "x", <7>`, `error NAME: message`, `signal /path IFACE.MEMBER args...`.
std::string describe(const bus::Message& message);
std::vector<std::string> describe(const std::vector<bus::Message>& messages);

// Names parameterised cases after their `what` field.
template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param) {
  return param.param.what;
}

}  // namespace tree_test
