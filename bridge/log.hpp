#pragma once
// Where the bridge's log lines go: standard error, which the journal keeps, or a test's record.
#include <functional>
#include <string_view>

namespace bridge {

// One line, without its line feed.
using Log = std::function<void(std::string_view line)>;

void log_to_standard_error(std::string_view line);

}  // namespace bridge
