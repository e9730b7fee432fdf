#include "ctl/service_state.hpp"

#include "src/conf/stored_level.hpp"

namespace ctl {

std::expected<ServiceState, dbus::BusError> read_service_state(const dbus::BusConnection& connection,
                                                               milliseconds timeout) {
  ServiceState state;
  auto stored = src::read_stored_level(std::string(src::config_file_path));  // BLOCKS on the file system
  if (stored) {
    state.stored = *stored;
  } else {
    state.stored = std::unexpected(stored.error().message());
  }

  auto owner = service_owner(connection, timeout);  // BLOCKS up to `timeout`
  if (!owner) return std::unexpected(std::move(owner.error()));
  if (!*owner) return state;
  // Asked of that owner, so that the level and the name belong together. Gone in between, it
  // is not running.
  auto level = read_range(connection, timeout, *owner);  // BLOCKS up to `timeout`
  if (!level && is_absent(level.error())) return state;
  if (!level) return std::unexpected(std::move(level.error()));
  state.owner = std::move(*owner);
  state.level = *level;
  return state;
}

}  // namespace ctl
