#pragma once
// Who a caller is, as the bus daemon vouches for it: the uid behind the caller's unique name.
// The daemon is asked without waiting for its answer, so that a slow daemon holds up only the
// calls whose caller it has not named yet, never the loop. A unique name is never given to
// another connection, so an answer holds for as long as the name is used, and a caller that
// keeps its connection is asked about once.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/transport/exchange.hpp"
#include "dbus/bus_connection.hpp"
#include "dbus/message.hpp"

namespace bridge {

struct CallerUnknown {
  bool timed_out;  // the daemon did not answer in time, which says nothing about the caller
  std::string why;
};
using CallerAnswer = std::function<void(std::expected<uid_t, CallerUnknown>)>;

class CallerCheck {
 public:
  // `connection` is borrowed and must outlive this; the daemon's answers reach take_reply
  // through receivers the caller adds.
  explicit CallerCheck(dbus::BusConnection& connection) : connection_(connection) {}

  // Calls `then` once the daemon has named the uid behind `sender`, at once for a caller named
  // recently, or when `deadline` comes first. Calls of one sender are answered in their order.
  void identify(std::string_view sender, TimePoint deadline, CallerAnswer then);
  // A reply from the daemon: true when it answers one of our questions.
  bool take_reply(const dbus::Message& reply);
  // Answers the calls whose time is over with CallerUnknown{.timed_out = true}.
  void expire(TimePoint now);
  std::optional<TimePoint> wake_time() const;

 private:
  struct Waiting {
    TimePoint deadline;
    CallerAnswer then;
  };
  struct Question {
    std::string sender;
    std::uint32_t serial;
    std::vector<Waiting> waiting;
  };
  void answer(Question question, const std::expected<uid_t, CallerUnknown>& answer);

  static constexpr std::size_t kept_answers = 16;
  dbus::BusConnection& connection_;
  std::deque<std::pair<std::string, uid_t>> known_;  // the most recent last
  std::deque<Question> asked_;
};

}  // namespace bridge
