#pragma once
// Building method calls in memory and writing replies out as text that tests compare exactly.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "dbus/message.hpp"

namespace tree_test {

// Arguments as tokens: "s:text", "i:42", "y:7", and "v:" followed by one of those for a variant.
using Args = std::vector<std::string>;

inline constexpr std::uint32_t call_serial = 41;

// Header fields as the caller's connection set them.
struct Sent {
  std::uint32_t serial = call_serial;  // replies are built to it
  std::string destination{};           // empty: none
  bool no_reply = false;
};

// A method call as it arrives. An empty path or interface is left out.
dbus::Message call(std::string_view path, std::string_view interface, std::string_view member, const Args& args = {},
                   const Sent& sent = {});

// `return "x", <7>`, `error NAME: message`, `signal /path IFACE.MEMBER args...`.
std::string describe(const dbus::Message& message);
std::vector<std::string> describe(const std::vector<dbus::Message>& messages);

// Cases print as their `what` field (each test file brings this in with a using-declaration,
// where argument-dependent lookup sees it).
template <class Case>
requires requires(const Case& c) { c.what; }
void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }

// Names parameterised cases after their `what` field.
template <class Case>
std::string case_name(const testing::TestParamInfo<Case>& param) {
  return param.param.what;
}

}  // namespace tree_test
