#include "bridge/memory/power_memory.hpp"

namespace bridge {

std::optional<TransmitPower> PowerMemory::wanted(std::string_view controller) const {
  const auto found = wanted_.find(controller);
  if (found == wanted_.end()) return std::nullopt;
  return found->second;
}

std::vector<std::string> PowerMemory::controllers() const {
  std::vector<std::string> names;
  names.reserve(wanted_.size());
  for (const auto& [controller, command] : wanted_) names.push_back(controller);
  return names;
}

void PowerMemory::keep(const TransmitPower& command) { wanted_.insert_or_assign(command.controller, command); }

}  // namespace bridge
