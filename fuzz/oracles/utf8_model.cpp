#include "fuzz/oracles/utf8_model.hpp"

#include <algorithm>
#include <array>

namespace oracle {
namespace {

struct Form {
  std::size_t length;
  char32_t lowest;  // anything below is an overlong form
};

std::optional<Form> form_of(unsigned char lead) noexcept {
  if (lead < 0x80) return Form{1, 0};
  if ((lead & 0xe0) == 0xc0) return Form{2, 0x80};
  if ((lead & 0xf0) == 0xe0) return Form{3, 0x800};
  if ((lead & 0xf8) == 0xf0) return Form{4, 0x10000};
  return std::nullopt;
}

char32_t payload_of_lead(unsigned char lead, std::size_t length) noexcept {
  static constexpr std::array<unsigned char, 5> masks{0, 0x7f, 0x1f, 0x0f, 0x07};
  return lead & masks[length];
}

}  // namespace

std::optional<std::vector<CodePoint>> decode_utf8(std::string_view bytes) {
  std::vector<CodePoint> points;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const auto form = form_of(lead);
    if (!form || at + form->length > bytes.size()) return std::nullopt;
    char32_t value = payload_of_lead(lead, form->length);
    for (std::size_t i = 1; i < form->length; ++i) {
      const auto next = static_cast<unsigned char>(bytes[at + i]);
      if ((next & 0xc0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3f);
    }
    if (value < form->lowest || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff)) return std::nullopt;
    points.push_back({value, at, form->length});
    at += form->length;
  }
  return points;
}

bool is_white_space(char32_t c) noexcept {
  static constexpr std::array<char32_t, 25> list{0x09,   0x0a,   0x0b,   0x0c,   0x0d,   0x20,   0x85,   0xa0,   0x1680,
                                                 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                                 0x2009, 0x200a, 0x2028, 0x2029, 0x202f, 0x205f, 0x3000};
  return std::find(list.begin(), list.end(), c) != list.end();
}

}  // namespace oracle
