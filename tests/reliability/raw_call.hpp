#pragma once
// Method calls and signals built argument by argument with libdbus itself, so that tests can send
// what no well-behaved client would: missing, mistyped, nested or enormous arguments. They reach
// our code as the bytes such a client would send.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dbus/message.hpp"

struct DBusMessageIter;  // libdbus's argument cursor, seen only in raw_call.cpp

namespace reliability {

using Append = std::function<void(DBusMessageIter&)>;

Append string_arg(std::string text);
Append int32_arg(std::int32_t value);
Append byte_arg(std::uint8_t value);
Append uint32_arg(std::uint32_t value);
Append object_path_arg(std::string path);
Append variant_arg(const char* signature, Append inner);
Append string_array_arg(std::vector<std::string> items);

struct CallShape {
  std::string path = "/com/orbo/RIDEviva";
  std::optional<std::string> interface = std::string("org.freedesktop.DBus.Properties");
  std::string member;
  std::vector<Append> args = {};
  std::string destination = "com.orbo.RIDEviva";
};

// Each numbered here, as its sender would, far above the numbers a connection counts up itself.
dbus::Message raw_call(const CallShape& shape);
// A message of any type code (one D-Bus does not define, too) with the shape's header fields.
dbus::Message raw_message(int type, const CallShape& shape);
// A signal addressed to `destination` (unicast), as a flooding client would send it.
dbus::Message raw_signal(const std::string& destination, const std::string& interface, const std::string& member);

// For failure messages: long texts shortened to their head, size and tail.
std::string shortened(const std::string& text);

}  // namespace reliability
