// The bridge's argument checks against a model of the four forms: the input is
// cut into four arguments at NUL bytes. A command is accepted exactly when all four have their
// strict forms, and then the tool's argument vector holds those four texts and nothing else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/hci_command.hpp"
#include "bridge/hcitool.hpp"
#include "fuzz/oracles/bridge_model.hpp"
#include "fuzz/oracles/mismatch.hpp"

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
  const bool expected = oracle::strict_bridge_arguments(args);
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
