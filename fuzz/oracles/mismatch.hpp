#pragma once
// How a fuzz target reports that the code under test and its model disagree: a readable note
// on standard error, then abort, which the fuzzer (or the corpus replay) records as a failure.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace oracle {

[[noreturn]] inline void mismatch(std::string_view what, std::string_view input, std::string_view ours,
                                  std::string_view model) {
  std::string note = "MISMATCH: " + std::string(what) + "\n  input: ";
  for (unsigned char c : input) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      note += static_cast<char>(c);
    } else {
      static constexpr char hex[] = "0123456789abcdef";
      note += "\\x";
      note += hex[c >> 4];
      note += hex[c & 0xf];
    }
  }
  note += "\n  ours:  " + std::string(ours) + "\n  model: " + std::string(model) + "\n";
  std::fwrite(note.data(), 1, note.size(), stderr);
  std::abort();
}

}  // namespace oracle
