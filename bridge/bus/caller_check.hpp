#pragma once
// Who a caller is, as the bus daemon vouches for it: the uid behind the caller's unique name.
// A unique name is never given to another connection, so an answer holds for as long as the
// name is used, and a caller that keeps its connection is asked about once.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include "dbus/bus_connection.hpp"

namespace bridge {

class CallerCheck {
 public:
  // `connection` is borrowed and must outlive this.
  explicit CallerCheck(const dbus::BusConnection& connection) : connection_(connection) {}

  // BLOCKS up to `timeout` on the bus daemon for a caller not asked about recently.
  std::expected<uid_t, dbus::BusError> uid_of(std::string_view unique_name, std::chrono::milliseconds timeout);

 private:
  static constexpr std::size_t kept_answers = 16;
  const dbus::BusConnection& connection_;
  std::deque<std::pair<std::string, uid_t>> known_;  // the most recent last
};

}  // namespace bridge
