#pragma once
// The bridge's face on the bus: the name it owns, its one object and the method that sends an
// HCI command. Depends on nothing, so the bridge and every caller of it share this one copy.
#include <string_view>

namespace contract {

inline constexpr std::string_view bridge_bus_name = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view bridge_path = "/com/orbo/ZozovoZorOrevov";
inline constexpr std::string_view bridge_interface = "com.orbo.ZozovoZorOrevov";
inline constexpr std::string_view execute_member = "ExecuteHcitool";

// In a Failed answer: the controller answered, but the answer may have been its late answer to
// an earlier command, so nobody can say whether it took this one. The bridge sends its wanted
// level again meanwhile; a caller may try again once the controller owes nothing (at most 15 s).
inline constexpr std::string_view doubted_answer =
    "the answer may have been the controller's late answer to an earlier command";

}  // namespace contract
