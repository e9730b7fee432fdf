#pragma once
// The bridge's face on the bus: the name it owns, its one object and the method that sends an
// HCI command. Depends on nothing, so the bridge and every caller of it share this one copy.
#include <string_view>

namespace contract {

inline constexpr std::string_view bridge_bus_name = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view bridge_path = "/com/orbo/ZozovoZorOrevov";
inline constexpr std::string_view bridge_interface = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view execute_member = "ExecuteHcitool";

}  // namespace contract
