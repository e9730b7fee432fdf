#pragma once
// What a message says, in the one notation every tier's tables use:
//   return                                       a reply without arguments
//   return v i 7, s "two"                        each argument its type and value, as the builder writes it
//   return a{sv} [{s "B": v i 1}, {s "a": v i 3}]
//   error org.freedesktop.DBus.Error.Failed: the error's text
//   signal /path com.example.Iface.Member s "x"  a signal, with `to NAME` when it has a destination
//   call /path com.example.Iface.Member          likewise
//   nothing                                      no message (a wait that ended without one)
// Texts stand between double quotes byte for byte, unescaped, so that an expected text is the
// concatenation of what the test sent or knows. A value whose type the bus layer cannot read
// shows as its signature and `?`, and ends the description.
#include <string>
#include <vector>

#include "dbus/message.hpp"

namespace harness {

std::string describe(const dbus::Message& message);
std::vector<std::string> describe(const std::vector<dbus::Message>& messages);

// For failure messages: a long text shortened to its head, its size and its tail.
std::string shortened(const std::string& text);

}  // namespace harness
