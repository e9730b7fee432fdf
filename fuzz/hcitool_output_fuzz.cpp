// The controller status read from hcitool's output, against its model. The bridge's reply is a
// D-Bus string, so only well-formed UTF-8 reaches the parser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/oracles/hcitool_model.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "src/tx_power_command.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view output(reinterpret_cast<const char*>(data), size);
  if (!text::is_utf8(output)) return -1;  // not worth keeping in the corpus

  const auto ours = src::tx_power_command::controller_status(output);
  const auto model = oracle::controller_status(output);
  if (ours && model && *ours == *model) return 0;
  if (!ours && !model) {
    // A longer output is quoted by its first characters (pinned by the unit test).
    if (output.size() > src::tx_power_command::longest_quoted_output) return 0;
    const std::string expected = "Failed to parse hcitool output: " + std::string(output);
    if (ours.error().message() != expected || !ours.error().causes().empty()) {
      oracle::mismatch("controller_status message", output, ours.error().message(), expected);
    }
    return 0;
  }
  oracle::mismatch("controller_status", output, ours ? std::to_string(*ours) : ours.error().message(),
                   model ? std::to_string(*model) : "no status");
}
