#pragma once
// Many client connections sending a fixed mix of valid and invalid requests to the service, with
// a bounded number unanswered on each, checking every answer and its order per connection.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dbus/message.hpp"

namespace reliability {

struct LoadPlan {
  std::string bus_address;
  std::size_t connections = 20;
  std::size_t requests_per_connection = 500;
  std::size_t window = 32;          // unanswered requests per connection at most
  std::int32_t held_level = 25;     // what Get must answer throughout
  std::string introspection{};      // the document, as harness::describe shows it
  std::chrono::seconds limit{180};  // for the whole run
};

struct LoadResult {
  std::size_t sent = 0;
  std::size_t answered = 0;
  std::size_t wrong = 0;         // answered with something else than expected
  std::size_t out_of_order = 0;  // answered, but not in the order asked
  std::size_t valid = 0;         // of the sent requests, those the service should accept
  std::vector<std::string> first_problems;
};

// The request number `index` of a connection's sequence, and the answer it must get.
struct PlannedRequest {
  dbus::Message message;
  std::string answer;
  bool valid;
};
PlannedRequest planned_request(std::size_t index, const LoadPlan& plan);

// BLOCKS until every connection got all its answers, one failed, or the limit passed.
LoadResult run_mixed_load(const LoadPlan& plan);

// VmRSS of a process in KiB, 0 when it cannot be read.
std::size_t resident_kib(pid_t pid);

}  // namespace reliability
