#pragma once
// The range service's face on the bus: the name it owns, its one object, the interface and the
// property, and how a level reads as transmit power. Depends on nothing, so the service and
// every client of it share this one copy.
#include <string_view>

namespace contract {

inline constexpr std::string_view range_bus_name = "com.orbo.RIDEviva";
inline constexpr std::string_view range_path = "/com/orbo/RIDEviva";
inline constexpr std::string_view range_interface = "com.orbo.Configuration.Legacy";
inline constexpr std::string_view range_property_name = "Range";

// The levels the service takes, stored or set on the bus.
inline constexpr int lowest_level = 0;
inline constexpr int highest_level = 30;

// The transmit power in dBm is the level plus this.
inline constexpr int level_to_power = -20;

}  // namespace contract
