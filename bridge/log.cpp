#include "bridge/log.hpp"

#include <cstdio>

namespace bridge {

void log_to_standard_error(std::string_view line) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace bridge
