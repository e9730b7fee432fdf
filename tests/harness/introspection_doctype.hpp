#pragma once
// The DOCTYPE line every introspection document starts with.
#include <string_view>

namespace harness {

inline constexpr std::string_view introspection_doctype =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\" "
    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n";

}  // namespace harness
