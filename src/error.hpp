#pragma once
// The service's error value: a message with an optional chain of causes, reported once at exit.
#include <string>
#include <utility>
#include <vector>

namespace ranged {

class Error {
 public:
  explicit Error(std::string message, std::vector<std::string> causes = {})
      : message_(std::move(message)), causes_(std::move(causes)) {}

  const std::string& message() const noexcept { return message_; }
  const std::vector<std::string>& causes() const noexcept { return causes_; }

  // "Error: <message>\n", with a "Caused by:" block when there are causes.
  std::string report() const;

 private:
  std::string message_;
  std::vector<std::string> causes_;
};

}  // namespace ranged
