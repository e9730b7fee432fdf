#pragma once
// Messages as any client or server may send them, well-formed or not: header fields left out or
// set at will, any type code (one D-Bus does not define, too), and arguments of every shape,
// missing, mistyped, nested or enormous. Each reaches the code under test as the bytes its sender
// would put on the wire. Arguments are written as the describer shows them: s("x") is `s "x"`,
// v(i(5)) is `v i 5`, a("s", {}) is `as []`.
#include <cstdint>
#include <string>
#include <vector>

#include "dbus/message.hpp"

namespace harness {

struct Arg {
  std::string signature{};   // of this one value: "s", "v", "as", "{sv}"
  std::string text{};        // of s and o
  std::int64_t number = 0;   // of i, u and y
  std::vector<Arg> items{};  // a variant's value, an array's elements, a dict entry's key and value
};

// Brought into a test with `using namespace harness::args;`.
namespace args {
Arg s(std::string text);
Arg o(std::string path);
Arg i(std::int32_t value);
Arg u(std::uint32_t value);
Arg y(std::uint8_t value);
Arg v(Arg value);
Arg a(std::string element_signature, std::vector<Arg> elements);
Arg e(Arg key, Arg value);  // a dict entry, for arrays of "{..}"
}  // namespace args

// The header: an empty field is left out.
struct Shape {
  int type = static_cast<int>(dbus::MessageType::method_call);
  std::string destination{};
  std::string path{};
  std::string interface {};
  std::string member{};
  std::vector<Arg> args{};
  std::uint32_t serial = 0;  // 0: the next of a count far above the numbers a connection gives
  bool no_reply = false;
  std::uint32_t reply_serial = 0;  // for replies
  std::string error_name{};        // for errors
};

dbus::Message build(const Shape& shape);

}  // namespace harness
