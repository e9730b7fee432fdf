#pragma once
// Times as busctl and systemd write them: "10" (seconds), "2.5s", "500ms", "1min 30s",
// "infinity".
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ctl {

// Without an end.
inline constexpr std::chrono::milliseconds no_time_limit = std::chrono::milliseconds::max();

// The span to the millisecond (a part of one counts as a whole one), if `text` is one from
// 1 ms to a day, or no_time_limit for "infinity".
std::optional<std::chrono::milliseconds> time_span_from(std::string_view text);

// "1 s", "2.5 s", "300 ms": a span as a message tells it.
std::string span_text(std::chrono::milliseconds span);

}  // namespace ctl
