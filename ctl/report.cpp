#include "ctl/report.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "contract/range_interface.hpp"

namespace ctl {
namespace {

// Keys in the order they are set: Range before Power, as people read them.
using Json = nlohmann::ordered_json;

// Computed wide: a level the service would never hold still reads truly.
long long power_of(std::int32_t level) { return static_cast<long long>(level) + contract::level_to_power; }

std::string json_text(const Json& value, JsonMode mode) {
  const int indent = mode == JsonMode::pretty ? 2 : -1;
  return value.dump(indent, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string range_line(std::int32_t level) {
  return "Range: " + std::to_string(level) + " (" + std::to_string(power_of(level)) + " dBm)";
}

Json level_json(std::int32_t level) { return Json{{"Range", level}, {"Power", power_of(level)}}; }

// One property of show: its name and its value, null where there is none.
struct ShowProperty {
  std::string_view name;
  Json (*value)(const ServiceState& state);
};

Json or_null(const auto& value) { return value ? Json(*value) : Json(nullptr); }

const ShowProperty show_properties[] = {
    {"Range", [](const ServiceState& s) { return or_null(s.level); }},
    {"Power", [](const ServiceState& s) { return s.level ? Json(power_of(*s.level)) : Json(nullptr); }},
    {"StoredRange", [](const ServiceState& s) { return or_null(s.stored); }},
    {"Running", [](const ServiceState& s) { return Json(s.owner.has_value()); }},
    {"UniqueName", [](const ServiceState& s) { return or_null(s.owner); }},
};

// As systemctl show writes values: booleans as yes and no, nothing for null.
std::string value_text(const Json& value) {
  if (value.is_null()) return "";
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_string()) return value.get<std::string>();
  return value.dump();
}

struct EventReport {
  std::string text;  // empty: not told on standard output
  Json json;
};

EventReport event_report(const WatchEvent& event) {
  struct Told {
    EventReport operator()(const LevelSeen& seen) const { return {range_line(seen.level), level_json(seen.level)}; }
    EventReport operator()(const ServiceStopped&) const { return {"ble-ranged stopped", Json{{"Running", false}}}; }
    EventReport operator()(const ServiceAbsent&) const {
      return {"ble-ranged is not running", Json{{"Running", false}}};
    }
    EventReport operator()(const ServiceStarted& started) const {
      return {"ble-ranged started (" + started.unique_name + ")",
              Json{{"Running", true}, {"UniqueName", started.unique_name}}};
    }
    EventReport operator()(const LevelUnreadable&) const { return {}; }
  };
  return std::visit(Told{}, event);
}

}  // namespace

std::string status_report(std::int32_t level, JsonMode json) {
  return json == JsonMode::off ? range_line(level) + "\n" : json_text(level_json(level), json);
}

std::string get_report(std::int32_t level, JsonMode json) {
  return json == JsonMode::off ? std::to_string(level) + "\n" : json_text(Json{{"Range", level}}, json);
}

std::string show_report(const ServiceState& state, const Request& request) {
  Json object = Json::object();
  std::string lines;
  for (const ShowProperty& property : show_properties) {
    if (!shows(request, property.name)) continue;
    const Json value = property.value(state);
    if (!request.values_only) lines.append(property.name).append("=");
    lines.append(value_text(value)).append("\n");
    object[std::string(property.name)] = value;
  }
  return request.json == JsonMode::off ? lines : json_text(object, request.json);
}

std::string watch_report(const WatchEvent& event, const std::optional<std::string>& timestamp, JsonMode json) {
  EventReport report = event_report(event);
  if (report.text.empty()) return {};
  if (json == JsonMode::off) return (timestamp ? *timestamp + " " : std::string()) + report.text + "\n";
  if (!timestamp) return json_text(report.json, json);
  Json stamped{{"Timestamp", *timestamp}};
  stamped.update(report.json);
  return json_text(stamped, json);
}

bool shows(const Request& request, std::string_view name) {
  return request.properties.empty() || std::ranges::find(request.properties, name) != request.properties.end();
}

bool is_show_property(std::string_view name) {
  return std::ranges::find(show_properties, name, &ShowProperty::name) != std::end(show_properties);
}

std::string show_property_list() {
  std::string list;
  const std::size_t count = std::size(show_properties);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " and " : ", ";
    list += show_properties[i].name;
  }
  return list;
}

}  // namespace ctl
