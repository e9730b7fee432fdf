#include "src/conf/os_error.hpp"

#include <array>
#include <cstring>

namespace ranged {

std::string os_error_text(int error_number) {
  std::array<char, 256> buffer{};
  // The GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error_number, buffer.data(), buffer.size());
  return std::string(text) + " (os error " + std::to_string(error_number) + ")";
}

}  // namespace ranged
