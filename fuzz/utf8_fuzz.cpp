// The one UTF-8 decoder of text/ against the model, on any bytes: the same verdict, and for
// well-formed text the same code points in the same places. What is built on the decoder keeps
// its promises: repaired, bus-bound and quoted text is well formed, well-formed text is not
// repaired, and a leading part is the longest run of whole characters within its limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/oracles/mismatch.hpp"
#include "fuzz/oracles/utf8_model.hpp"
#include "text/quoted.hpp"
#include "text/utf8.hpp"

namespace {

void check(bool holds, const char* what, std::string_view input) {
  if (!holds) oracle::mismatch(what, input, "violated", "holds");
}

bool well_formed(std::string_view text) { return oracle::decode_utf8(text).has_value(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto model = oracle::decode_utf8(input);
  check(text::is_utf8(input) == model.has_value(), "is_utf8 gives the model's verdict", input);
  const std::string repaired = text::repair_utf8(input);
  check(well_formed(repaired), "repaired text is well formed", input);
  check(!model || repaired == input, "well-formed text is not repaired", input);
  const std::string bus_text = text::to_bus_text(input);
  check(well_formed(bus_text) && bus_text.find('\0') == std::string::npos, "bus text is well formed, without NUL",
        input);
  check(well_formed(text::quoted(input)), "quoted text is well formed", input);
  if (!model) return 0;

  std::size_t at = 0;
  for (const oracle::CodePoint& point : *model) {
    const text::Sequence sequence = text::read_sequence(input, at);
    check(at == point.offset && sequence.well_formed && sequence.length == point.length &&
              sequence.code_point == point.value,
          "read_sequence reads the model's code point", input);
    at += sequence.length;
  }
  const std::size_t limit = size / 2;
  std::size_t whole = size <= limit ? size : 0;
  for (const oracle::CodePoint& point : *model) {
    if (size > limit && point.offset + point.length <= limit) whole = point.offset + point.length;
  }
  check(text::leading_characters(input, limit) == input.substr(0, whole),
        "leading_characters keeps the whole characters within the limit", input);
  return 0;
}
