// The configuration reader against its model, on any bytes: ill-formed UTF-8 is refused as a
// whole (as load does), well-formed text must give the same map or the same error message.
// Names are folded by the service's own lower-casing; everything else in the model is its own.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/oracles/ini_model.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "fuzz/oracles/utf8_model.hpp"
#include "src/conf/config_file.hpp"
#include "text/lower_case.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool well_formed = oracle::decode_utf8(bytes).has_value();
  if (text::is_utf8(bytes) != well_formed) {
    oracle::mismatch("is_utf8", bytes, well_formed ? "invalid" : "valid", well_formed ? "valid" : "invalid");
  }
  if (!well_formed) return 0;

  const auto ours = src::config_file::parse(bytes);
  const auto model = oracle::parse_ini(bytes, [](std::string_view name) { return text::lower_case(name); });
  if (ours && model) {
    const auto read = oracle::sorted(*ours);
    if (read != *model) oracle::mismatch("parse", bytes, oracle::describe(read), oracle::describe(*model));
  } else if (!ours && !model) {
    if (ours.error() != model.error()) oracle::mismatch("parse error", bytes, ours.error(), model.error());
  } else {
    oracle::mismatch("parse outcome", bytes, ours ? oracle::describe(oracle::sorted(*ours)) : ours.error(),
                     model ? oracle::describe(*model) : model.error());
  }
  return 0;
}
