// The configuration reader against an independent model on thousands of generated files, valid
// and near-valid: headers, keys with and without values, comments, Unicode blanks and letters,
// Windows line ends, missing brackets and empty keys. Same map or same error, every time.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fuzz/oracles/ini_model.hpp"
#include "src/conf/config_file.hpp"
#include "tests/harness/sandbox.hpp"

namespace reliability {
namespace {

// Lower-casing for the generator's own alphabet, written out by hand.
std::string lower_by_table(std::string_view text) {
  static const std::vector<std::pair<std::string, std::string>> table = {
      {"\xc3\x84", "\xc3\xa4"},      // Ä ä
      {"\xc4\xb0", "i\xcc\x87"},     // İ i + combining dot above
      {"\xe1\xba\x9e", "\xc3\x9f"},  // ẞ ß
      {"\xce\xa9", "\xcf\x89"},      // Ω ω
  };
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    bool mapped = false;
    for (const auto& [upper, lower] : table) {
      if (text.substr(at).starts_with(upper)) {
        out += lower;
        at += upper.size();
        mapped = true;
        break;
      }
    }
    if (mapped) continue;
    const char c = text[at++];
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

class FileGenerator {
 public:
  explicit FileGenerator(unsigned seed) : random_(seed) {}

  std::string file() {
    std::string text = pick(8) == 0 ? "\xef\xbb\xbf" : "";  // a byte-order mark stays part of line 0
    const std::size_t lines = below(12);
    for (std::size_t i = 0; i < lines; ++i) {
      text += line();
      if (i + 1 < lines || pick(2) == 0) text += pick(3) == 0 ? "\r\n" : "\n";
    }
    return text;
  }

 private:
  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }
  std::size_t pick(std::size_t n) { return below(n); }
  template <class T>
  const T& one_of(const std::vector<T>& items) {
    return items[below(items.size())];
  }

  std::string blank() {
    static const std::vector<std::string> blanks = {
        "", "", " ", "\t", "  ", "\xc2\xa0", "\xe3\x80\x80", "\xe2\x80\x83", "\x0b", "\xc2\x85"};
    return one_of(blanks);
  }
  std::string name() {
    // clang-format off
    static const std::vector<std::string> parts = {"Bluetooth", "RANGE", "range", "Range", "a", "Key", "x.y", "b-c",
                                                   "\xc3\x84rger", "\xc4\xb0stanbul", "Stra\xe1\xba\x9e\x65", "\xce\xa9",
                                                   "with space", "k:v", "7"};
    // clang-format on
    std::string made = one_of(parts);
    if (pick(4) == 0) made += one_of(parts);
    return made;
  }
  std::string value() {
    static const std::vector<std::string> values = {"7",   "25",       "-1",   "",    "a=b", "Mixed Case",
                                                    "x y", "\xc3\x84", "0x1e", "1 2", "]"};
    return one_of(values);
  }
  std::string comment() {
    static const std::vector<std::string> comments = {"", "", "; note", "# note", ";", "#x=y", "; [not] a header"};
    return one_of(comments);
  }
  std::string line() {
    switch (pick(9)) {
      case 0:
      case 1: return blank() + "[" + blank() + name() + blank() + "]" + blank() + comment();
      case 2:
      case 3:
      case 4: return blank() + name() + blank() + "=" + blank() + value() + blank() + comment();
      case 5: return blank() + name() + blank() + comment();
      case 6: return blank() + comment();
      case 7: {  // near-valid lines
        static const std::vector<std::string> odd = {"[Bluetooth",  "= 5",       "  =", "]x[", "text [a] more",
                                                     "name = a[1]", "name = [x", "[]",  "[ ]", "[a]]",
                                                     "[[a]",        "==",        "k==v"};
        return blank() + one_of(odd) + blank();
      }
      default: return blank();
    }
  }

  std::mt19937 random_;
};

TEST(ConfigModel, TheReaderAgreesWithTheModelOnThousandsOfGeneratedFiles) {
  constexpr int files = 5000;
  FileGenerator generate(1207);
  int failures = 0, maps = 0;
  for (int i = 0; i < files && failures < 5; ++i) {
    const std::string text = generate.file();
    const auto ours = src::config_file::parse(text);
    const auto model = oracle::parse_ini(text, lower_by_table);
    bool same = ours.has_value() == model.has_value();
    if (same && ours) same = oracle::sorted(*ours) == *model;
    if (same && !ours) same = ours.error() == model.error();
    maps += ours.has_value();
    if (!same) {
      ++failures;
      ADD_FAILURE() << "file " << i << ":\n"
                    << text << "\n-- reader --\n"
                    << (ours ? oracle::describe(oracle::sorted(*ours)) : ours.error()) << "\n-- model --\n"
                    << (model ? oracle::describe(*model) : model.error());
    }
  }
  // Both outcomes must be well represented, or the generator tests little.
  EXPECT_GT(maps, files / 4);
  EXPECT_LT(maps, files * 9 / 10);
  std::printf("config model: %d generated files, %d read as maps\n", files, maps);
}

TEST(ConfigModel, LoadingRefusesEveryFileWithBytesThatAreNotUtf8WhereverTheyStand) {
  harness::ScratchDirectory directory;
  const std::string path = (directory.path() / "bluetooth.conf").string();
  const std::string bad[] = {"\xff", "\xc3", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"};
  FileGenerator generate(99);
  for (int i = 0; i < 200; ++i) {
    std::string text = generate.file();
    const std::size_t at = text.empty() ? 0 : static_cast<std::size_t>(i) % (text.size() + 1);
    text.insert(at, bad[i % std::size(bad)]);
    harness::write_file(path, text);
    const auto loaded = src::config_file::load(path);
    ASSERT_FALSE(loaded.has_value()) << i;
    EXPECT_EQ(loaded.error(), "couldn't read " + path + ": stream did not contain valid UTF-8") << i;
  }
}

}  // namespace
}  // namespace reliability
