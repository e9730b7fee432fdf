#include "src/error.hpp"

#include <cstddef>

namespace src {
namespace {

// Numbered causes read "    0: ", "   12: " and so on: the index right-aligned in five columns.
std::string cause_number(std::size_t index) {
  std::string digits = std::to_string(index);
  std::string padded(digits.size() < 5 ? 5 - digits.size() : 0, ' ');
  return padded + digits + ": ";
}

// Continuation lines of a multi-line cause line up under the first character of its text.
void append_indented(std::string& out, const std::string& text, std::string_view indent) {
  for (char c : text) {
    out += c;
    if (c == '\n') out += indent;
  }
}

}  // namespace

std::string Error::report() const {
  std::string out = "Error: " + message_;
  if (!causes_.empty()) {
    out += "\n\nCaused by:";
    if (causes_.size() == 1) {
      out += "\n    ";
      append_indented(out, causes_.front(), "    ");
    } else {
      for (std::size_t i = 0; i < causes_.size(); ++i) {
        out += '\n';
        out += cause_number(i);
        append_indented(out, causes_[i], "       ");
      }
    }
  }
  out += '\n';
  return out;
}

Error to_error(const dbus::BusError& failure) { return Error(failure.text()); }

Error to_error(const dbus::TypeMismatch& mismatch) { return to_error(dbus::BusError::from(mismatch)); }

}  // namespace src
