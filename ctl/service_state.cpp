#include "ctl/service_state.hpp"

#include "src/conf/stored_level.hpp"

namespace ctl {

std::expected<ServiceState, dbus::BusError> read_service_state(const dbus::BusConnection& connection,
                                                               const Deadline& deadline) {
  ServiceState state;
  auto stored = src::read_stored_level(std::string(src::config_file_path));  // BLOCKS on the file system
  if (stored) {
    state.stored = *stored;
  } else {
    state.stored = std::unexpected(stored.error().message());
  }

  auto owner = service_owner(connection, deadline.left());  // BLOCKS until the deadline
  if (!owner) return std::unexpected(std::move(owner.error()));
  if (!*owner) return state;
  // Asked of that owner, so that the level and the name belong together. Gone in between, it
  // is not running.
  auto level = read_range(connection, deadline.left(), *owner);  // BLOCKS until the deadline
  if (!level && is_absent(level.error())) return state;
  if (!level) return std::unexpected(std::move(level.error()));
  state.owner = std::move(*owner);
  state.level = *level;
  return state;
}

}  // namespace ctl
