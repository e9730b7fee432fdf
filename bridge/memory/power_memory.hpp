#pragma once
// The transmit power each controller should have, kept so that it can be sent again after the
// controller is reset: a reset (every power-on starts with one) makes a controller forget a
// vendor setting such as its transmit power. Only the service's levels are kept here; the
// scheduler decides which calls those are.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/log.hpp"
#include "bridge/memory/state_file.hpp"
#include "bridge/transmit_power.hpp"

namespace bridge {

class PowerMemory {
 public:
  // Kept in `file` across restarts when given, else in memory only. Reading it logs one line:
  // what it holds and what it refused, or why there is nothing to restore. BLOCKS on file I/O.
  PowerMemory(std::optional<std::filesystem::path> file, Log log);

  // Keeps the power and writes the file anew when it changed, or when the last write failed.
  // A failed write and the first good one after it are logged once each; the power is kept in
  // memory all the same. BLOCKS on file I/O and fsync.
  void remember(const TransmitPower& command);
  // After a failed write, tries the file again (each power-on does). BLOCKS like remember.
  void write_again_if_failed();

  std::optional<TransmitPower> last_for(std::string_view controller) const;
  std::vector<std::string> controllers() const;

 private:
  void write();

  std::optional<std::filesystem::path> file_;
  Log log_;
  PowerByController powers_;
  bool write_failed_ = false;
};

}  // namespace bridge
