// parse_i8 against its model: same value or same error for every input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/oracles/int8_model.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "text/parse_int.hpp"

namespace {

std::string shown(const std::expected<std::int8_t, text::ParseIntError>& result) {
  return result ? std::to_string(*result) : std::string(text::message(result.error()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto ours = text::parse_i8(input);
  const auto model = oracle::parse_int8(input);
  if (ours != model) oracle::mismatch("parse_i8", input, shown(ours), shown(model));
  return 0;
}
