#include "ctl/timestamp.hpp"

#include <array>
#include <cstdio>
#include <ctime>

namespace ctl {

std::string timestamp(std::chrono::system_clock::time_point when) {
  const auto since_epoch = when.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count() % 1000;
  std::tm local{};
  ::localtime_r(&seconds, &local);
  std::array<char, 32> date{};
  std::array<char, 8> offset{};  // "+0100"
  std::strftime(date.data(), date.size(), "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(offset.data(), offset.size(), "%z", &local);
  std::array<char, 48> text{};
  std::snprintf(text.data(), text.size(), "%s.%03lld%.3s:%.2s", date.data(), static_cast<long long>(milliseconds),
                offset.data(), offset.data() + 3);
  return text.data();
}

}  // namespace ctl
