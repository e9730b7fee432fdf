#include "bridge/bus/caller_check.hpp"

#include <algorithm>

namespace bridge {

std::expected<uid_t, dbus::BusError> CallerCheck::uid_of(std::string_view unique_name,
                                                         std::chrono::milliseconds timeout) {
  const auto known = std::ranges::find_if(known_, [&](const auto& entry) { return entry.first == unique_name; });
  if (known != known_.end()) return known->second;
  auto uid = connection_.unix_user(unique_name, timeout);  // BLOCKS up to `timeout`
  if (!uid) return std::unexpected(std::move(uid.error()));
  known_.emplace_back(std::string(unique_name), *uid);
  if (known_.size() > kept_answers) known_.pop_front();
  return *uid;
}

}  // namespace bridge
