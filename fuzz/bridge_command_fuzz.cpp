// The bridge's argument checks against a model of the one command it sends: the input is cut
// into four arguments at NUL bytes. A command is accepted exactly when all four have their strict
// forms and the transmit-power command's values, and then it is written back (the log, the state
// file, the tool's argument vector) in the one form the model spells.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/transmit_power.hpp"
#include "bridge/transport/hcitool.hpp"
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

  const auto command = bridge::read_transmit_power(args[0], args[1], args[2], args[3]);
  const auto expected = oracle::transmit_power_line(args);
  if (command.has_value() != expected.has_value()) {
    oracle::mismatch("read_transmit_power", input, command ? "accepted" : command.error(),
                     expected ? *expected : "rejected");
  }
  if (!command) return 0;
  if (bridge::command_line(*command) != *expected)
    oracle::mismatch("command_line", input, bridge::command_line(*command), *expected);
  std::string argv;
  for (const auto& word : bridge::hcitool_argv("hcitool", *command)) argv += (argv.empty() ? "" : " ") + word;
  const std::string model = "hcitool -i " + args[0] + " cmd" + expected->substr(args[0].size());
  if (argv != model) oracle::mismatch("hcitool_argv", input, argv, model);
  return 0;
}
