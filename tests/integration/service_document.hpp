#pragma once
// What Introspect on /com/orbo/RIDEviva must answer, byte for byte, read from the running service.
#include <string>

#include "tests/harness/introspection_text.hpp"

namespace integration {

inline const std::string service_document = std::string(harness::introspection_doctype) +
                                            "<node name=\"/com/orbo/RIDEviva\">\n"
                                            "  <interface name=\"com.orbo.Configuration.Legacy\">\n"
                                            "    <property name=\"Range\" type=\"i\" access=\"readwrite\"/>\n"
                                            "  </interface>\n" +
                                            std::string(harness::standard_interfaces) + "</node>";

}  // namespace integration
