#pragma once
// The transmit power each controller should have: the service's last level that the bridge told
// the service was accepted. It is sent again whenever the controller may have lost it (a reset,
// which every power-on starts with, makes a controller forget a vendor setting such as its
// transmit power).
//
// It lives in memory only. The service owns the level and sends it again whenever it cannot be
// sure the bridge holds it (a call that ended without an answer, a new owner of the bridge's
// name), so a restarted bridge learns it from the service; nothing on disk can fail a call.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/transmit_power.hpp"

namespace bridge {

class PowerMemory {
 public:
  std::optional<TransmitPower> wanted(std::string_view controller) const;
  std::vector<std::string> controllers() const;

  // The controller accepted `command` in time for its caller, who is the service.
  void keep(const TransmitPower& command);

 private:
  std::map<std::string, TransmitPower, std::less<>> wanted_;
};

}  // namespace bridge
