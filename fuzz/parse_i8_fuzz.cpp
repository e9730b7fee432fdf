// parse_i8 against its model: same value or same error for every input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/oracles/int8_model.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "src/parse_int.hpp"

namespace {

std::string shown(const std::expected<std::int8_t, ranged::ParseIntError>& result) {
  return result ? std::to_string(*result) : std::string(ranged::message(result.error()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto ours = ranged::parse_i8(text);
  const auto model = oracle::parse_int8(text);
  if (ours != model) oracle::mismatch("parse_i8", text, shown(ours), shown(model));
  return 0;
}
