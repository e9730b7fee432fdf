#pragma once
// What ble-rangectl prints on standard output for each verb, as text or as JSON. Every text
// here is written once; JSON is written by nlohmann::json, never by hand.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ctl/command_line.hpp"
#include "ctl/range_client.hpp"
#include "ctl/service_state.hpp"

namespace ctl {

// status: "Range: 25 (5 dBm)", or {"Range":25,"Power":5}.
std::string status_report(std::int32_t level, JsonMode json);
// get: "25", or {"Range":25}.
std::string get_report(std::int32_t level, JsonMode json);
// show: "Name=value" lines (values alone with --value) of the properties asked for, in the
// order of the table, or one JSON object of them; empty values where the service does not run.
std::string show_report(const ServiceState& state, const Request& request);
// watch: one line (or JSON object) for an event, after its time stamp when given; nothing for an
// event that is told on standard error (LevelUnreadable).
std::string watch_report(const WatchEvent& event, const std::optional<std::string>& timestamp, JsonMode json);

// Whether show prints the property `name` for this request.
bool shows(const Request& request, std::string_view name);
// The names show knows, for -p.
bool is_show_property(std::string_view name);
// "Range, Power, StoredRange, Running and UniqueName"
std::string show_property_list();

}  // namespace ctl
