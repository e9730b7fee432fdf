// The bridge's argument checks against a model written with regular expressions: the input is
// cut into four arguments at NUL bytes. A command is accepted exactly when all four have their
// strict forms, and then the tool's argument vector holds those four texts and nothing else.
#include <cstddef>
#include <cstdint>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/hci_command.hpp"
#include "bridge/hcitool.hpp"
#include "fuzz/oracles/mismatch.hpp"

namespace {

bool strict_forms(const std::vector<std::string>& args) {
  static const std::regex controller("hci[0-9]{1,3}");
  static const std::regex opcode("0x[0-9a-fA-F]{1,4}");
  static const std::regex parameter("0x[0-9a-fA-F]{1,2}");
  return std::regex_match(args[0], controller) && std::regex_match(args[1], opcode) &&
         std::regex_match(args[2], opcode) && std::regex_match(args[3], parameter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const auto nul = input.find('\0', start);
    if (nul == std::string_view::npos) return -1;
    args.emplace_back(input.substr(start, nul - start));
    start = nul + 1;
  }
  args.emplace_back(input.substr(start));

  const auto command = bridge::validate_command(args[0], args[1], args[2], args[3]);
  const bool expected = strict_forms(args);
  if (command.has_value() != expected) {
    oracle::mismatch("validate_command", input, command ? "accepted" : command.error(),
                     expected ? "accepted" : "rejected");
  }
  if (command) {
    const auto argv = bridge::hcitool_argv("hcitool", *command);
    const std::vector<std::string> only{"hcitool", "-i", args[0], "cmd", args[1], args[2], args[3]};
    if (argv != only) oracle::mismatch("hcitool_argv", input, argv.back(), only.back());
  }
  return 0;
}
