#include "tests/reliability/mixed_load.hpp"

#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "dbus/bus_connection.hpp"
#include "tests/harness/bus_client.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/expected_texts.hpp"
#include "tests/harness/range_calls.hpp"

namespace reliability {
namespace {

using namespace std::chrono_literals;
using namespace harness::args;
using harness::properties_call;

const std::string legacy = "com.orbo.Configuration.Legacy";
const std::string error_prefix = "error org.freedesktop.DBus.Error.";

struct Outstanding {
  std::uint32_t serial;
  std::string answer;
};

// One client connection with its own thread; libdbus connections are not shared across threads.
class Lane {
 public:
  Lane(const LoadPlan& plan, std::chrono::steady_clock::time_point deadline) : plan_(plan), deadline_(deadline) {}

  LoadResult run() {
    std::optional<dbus::BusConnection> connection;
    try {
      connection.emplace(harness::connect(plan_.bus_address));
    } catch (const std::exception& failure) {
      problem(failure.what());
      return result_;
    }
    exchange(*connection);
    return result_;
  }

 private:
  void exchange(dbus::BusConnection& connection) {
    std::deque<Outstanding> outstanding;
    std::deque<dbus::Message> arrived;
    connection.add_receiver({}, [&arrived](dbus::Message message, dbus::BusConnection&) {
      arrived.push_back(std::move(message));
      return true;
    });
    std::size_t next = 0;
    while (result_.answered < plan_.requests_per_connection) {
      while (next < plan_.requests_per_connection && outstanding.size() < plan_.window) {
        PlannedRequest request = planned_request(next++, plan_);
        connection.send(request.message);
        // The connection numbers what it queues; a message it could not queue stays unnumbered.
        if (request.message.serial() == 0) return problem("send: out of memory");
        outstanding.push_back({request.message.serial(), std::move(request.answer)});
        ++result_.sent;
        result_.valid += request.valid;
      }
      if (arrived.empty()) {
        if (std::chrono::steady_clock::now() > deadline_) return problem("no answer before the limit");
        // BLOCKS up to 1 s; writes what is still queued as it waits.
        if (!connection.process_one(1000ms)) return problem("connection lost");
        continue;
      }
      dbus::Message incoming = std::move(arrived.front());
      arrived.pop_front();
      const dbus::MessageType type = incoming.type();
      if (type != dbus::MessageType::method_return && type != dbus::MessageType::error) continue;  // NameAcquired
      take(incoming, outstanding);
    }
  }

  void take(const dbus::Message& reply, std::deque<Outstanding>& outstanding) {
    const std::uint32_t serial = reply.reply_serial();
    auto match = outstanding.begin();
    while (match != outstanding.end() && match->serial != serial) ++match;
    if (match == outstanding.end()) return problem("an answer to nothing asked: " + harness::describe(reply));
    ++result_.answered;
    if (match != outstanding.begin()) {
      ++result_.out_of_order;
      problem("answered out of order");
    }
    const std::string answer = harness::describe(reply);
    if (answer != match->answer) {
      ++result_.wrong;
      problem("expected " + harness::shortened(match->answer) + ", got " + harness::shortened(answer));
    }
    outstanding.erase(match);
  }

  void problem(std::string what) {
    if (result_.first_problems.size() < 5) result_.first_problems.push_back(std::move(what));
  }

  const LoadPlan& plan_;
  std::chrono::steady_clock::time_point deadline_;
  LoadResult result_;
};

}  // namespace

PlannedRequest planned_request(std::size_t index, const LoadPlan& plan) {
  const std::string held = std::to_string(plan.held_level);
  // Every 100th request sets the level it already has: valid, and a full round to the radio
  // and the file, without changing what the others must answer.
  if (index % 100 == 99) {
    return {harness::set_range(plan.held_level), "return", true};
  }
  switch (index % 10) {
    case 0: return {harness::get_range(), "return v i " + held, true};
    case 1: return {harness::get_all(), harness::all_properties(plan.held_level), true};
    case 2: return {harness::set_range(31), error_prefix + "InvalidArgs: " + harness::level_refused(31), false};
    case 3:
      return {properties_call("Get", {s(legacy), s("range")}), error_prefix + "UnknownProperty: Unknown property range",
              false};
    case 4: return {harness::introspect(), plan.introspection, true};
    case 5: return {properties_call("Frobnicate", {}), error_prefix + "UnknownMethod: Unknown method ", false};
    case 6:
      return {properties_call("Set", {s(legacy), s("Range"), v(s(held))}),
              error_prefix + "Failed: Property Range cannot change type", false};
    case 7:
      return {properties_call("Get", {}),
              error_prefix + "Failed: D-Bus argument type mismatch at position 0: expected String, found nothing",
              false};
    case 8:
      return {properties_call("GetAll", {s("x")}),
              error_prefix + "InvalidArgs: Invalid argument \"Interface name was not valid: 'x'\"", false};
    default:
      return {harness::build(harness::range_call("com.orbo.Nowhere", "Get")),
              error_prefix + "UnknownInterface: Unknown interface ", false};
  }
}

LoadResult run_mixed_load(const LoadPlan& plan) {
  const auto deadline = std::chrono::steady_clock::now() + plan.limit;
  std::vector<LoadResult> results(plan.connections);
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < plan.connections; ++i) {
      threads.emplace_back([&, i] { results[i] = Lane(plan, deadline).run(); });
    }
  }
  LoadResult total;
  for (const auto& one : results) {
    total.sent += one.sent;
    total.answered += one.answered;
    total.wrong += one.wrong;
    total.out_of_order += one.out_of_order;
    total.valid += one.valid;
    for (const auto& problem : one.first_problems) {
      if (total.first_problems.size() < 10) total.first_problems.push_back(problem);
    }
  }
  return total;
}

std::size_t resident_kib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6));
  }
  return 0;
}

}  // namespace reliability
