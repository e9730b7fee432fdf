#pragma once
// Another service on the private bus for blocking calls to talk to: its own connection, served
// by its own pump on a thread of its own.
#include <atomic>
#include <future>
#include <string>
#include <thread>

namespace dbus_test {

// Owns bus_name and answers method calls by member:
//   Describe     -> the call's signature, then its first string argument ("" when none)
//   Refuse       -> error com.example.Error.Refused "refused at 100% (%s)"
//   Ignore       -> nothing at all
//   Empty        -> a return without arguments
//   Number       -> a return with the uint32 7
class PeerService {
 public:
  static constexpr const char* bus_name = "com.example.Peer";
  static constexpr const char* path = "/com/example/Peer";
  static constexpr const char* interface_name = "com.example.Peer";
  static constexpr const char* refusal = "refused at 100% (%s)";

  // Returns once the name is owned; throws when that does not happen within a bounded wait.
  PeerService();
  PeerService(const PeerService&) = delete;
  PeerService& operator=(const PeerService&) = delete;
  ~PeerService();

 private:
  void serve(std::promise<std::string>& ready);

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace dbus_test
