#pragma once
// The service's error value: a message with an optional chain of causes, reported once at exit,
// and how failures of the bus layer read as one.
#include <string>
#include <utility>
#include <vector>

#include "dbus/arg_type.hpp"
#include "dbus/bus_error.hpp"

namespace src {

class Error {
 public:
  explicit Error(std::string message, std::vector<std::string> causes = {})
      : message_(std::move(message)), causes_(std::move(causes)) {}
  // A request that ended without an answer: it may still have been carried out.
  static Error unanswered(std::string message) {
    Error error(std::move(message));
    error.unanswered_ = true;
    return error;
  }

  const std::string& message() const noexcept { return message_; }
  const std::vector<std::string>& causes() const noexcept { return causes_; }
  // Whether what failed may have taken effect all the same (see unanswered).
  bool outcome_unknown() const noexcept { return unanswered_; }

  // "Error: <message>\n", with a "Caused by:" block when there are causes.
  std::string report() const;

 private:
  std::string message_;
  std::vector<std::string> causes_;
  bool unanswered_ = false;
};

// The bus error's message alone, as failure reports and error replies show it.
Error to_error(const dbus::BusError& failure);
// A reply argument of the wrong type reads as the bus layer's "Failed" error with the mismatch text.
Error to_error(const dbus::TypeMismatch& mismatch);

}  // namespace src
