#include "tests/harness/range_calls.hpp"

#include <utility>

namespace harness {

using namespace args;

namespace {

const std::string legacy = "com.orbo.Configuration.Legacy";
const std::string range = "Range";
const std::string path = "/com/orbo/RIDEviva";

}  // namespace

Shape range_call(std::string interface, std::string member, std::vector<Arg> arguments, const std::string& to) {
  return {.destination = to,
          .path = path,
          .interface = std::move(interface),
          .member = std::move(member),
          .args = std::move(arguments)};
}

dbus::Message properties_call(std::string member, std::vector<Arg> arguments, const std::string& to) {
  return build(range_call("org.freedesktop.DBus.Properties", std::move(member), std::move(arguments), to));
}

dbus::Message get_range(const std::string& to) { return properties_call("Get", {s(legacy), s(range)}, to); }

dbus::Message get_all(const std::string& to) { return properties_call("GetAll", {s(legacy)}, to); }

dbus::Message set_range(std::int32_t level, const std::string& to) {
  return properties_call("Set", {s(legacy), s(range), v(i(level))}, to);
}

dbus::Message introspect(const std::string& to) {
  return build(range_call("org.freedesktop.DBus.Introspectable", "Introspect", {}, to));
}

std::string all_properties(std::int32_t level) {
  return "return a{sv} [{s \"" + range + "\": v i " + std::to_string(level) + "}]";
}

std::string all_properties_as_gdbus_prints(std::int32_t level) {
  return "({'" + range + "': <" + std::to_string(level) + ">},)\n";
}

std::string range_changed(std::int32_t level) {
  return "signal " + path + " org.freedesktop.DBus.Properties.PropertiesChanged s \"" + legacy + "\", a{sv} [{s \"" +
         range + "\": v i " + std::to_string(level) + "}], as []";
}

}  // namespace harness
