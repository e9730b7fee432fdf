#pragma once
// The operating system's words for an errno value, as our messages quote them.
#include <string>

namespace ranged {

// "No such file or directory (os error 2)".
std::string os_error_text(int error_number);

}  // namespace ranged
