#include "dbus/names.hpp"

#include <gtest/gtest.h>

#include "exact_text.hpp"

namespace dbus {
namespace {

struct NameCase {
  std::string_view text;
  std::string refusal;  // empty when the text is a valid name
};

// Both ways of checking, building the name and only checking it, must give the same verdict.
template <class Name>
void expect_checks(const std::vector<NameCase>& cases) {
  for (const NameCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const auto name = Name::from_text(c.text);
    const auto checked = Name::check(c.text);
    if (c.refusal.empty()) {
      ASSERT_TRUE(name.has_value()) << name.error();
      EXPECT_EQ(name->view(), c.text.substr(0, c.text.find('\0')));
      EXPECT_TRUE(checked.has_value()) << checked.error();
    } else {
      ASSERT_FALSE(name.has_value());
      EXPECT_EQ(name.error(), c.refusal);
      ASSERT_FALSE(checked.has_value());
      EXPECT_EQ(checked.error(), c.refusal);
    }
  }
}

TEST(NamesTest, BusNamesAreCheckedByLibdbus) {
  expect_checks<BusName>({
      {"com.orbo.RIDEviva", ""},
      {":1.42", ""},
      {"com..orbo", "Bus name was not valid: 'com..orbo'"},
      {"single", "Bus name was not valid: 'single'"},
      {"", "Bus name was not valid: ''"},
  });
}

TEST(NamesTest, ObjectPathsAreCheckedByLibdbus) {
  expect_checks<BusPath>({
      {"/", ""},
      {"/com/orbo/RIDEviva", ""},
      {"/com//orbo", "Object path was not valid: '/com//orbo'"},
      {"/trailing/", "Object path was not valid: '/trailing/'"},
      {"relative", "Object path was not valid: 'relative'"},
  });
}

TEST(NamesTest, InterfaceNamesAreCheckedByLibdbus) {
  expect_checks<InterfaceName>({
      {"com.orbo.Configuration.Legacy", ""},
      {"com..orbo", "Interface name was not valid: 'com..orbo'"},
      {"org.freedesktop.DBus.Properties.", "Interface name was not valid: 'org.freedesktop.DBus.Properties.'"},
      {"Range", "Interface name was not valid: 'Range'"},
      {"com.orbo.\xff", "Interface name was not valid UTF-8"},
  });
}

TEST(NamesTest, MemberAndErrorNamesAreCheckedByLibdbus) {
  expect_checks<MemberName>({
      {"ExecuteHcitool", ""},
      {"Get.All", "Member name was not valid: 'Get.All'"},
      {"9Lives", "Member name was not valid: '9Lives'"},
  });
  expect_checks<ErrorName>({
      {"org.freedesktop.DBus.Error.InvalidArgs", ""},
      {"Failed", "Error name was not valid: 'Failed'"},
  });
}

TEST(NamesTest, SignaturesMustBeExactlyOneCompleteType) {
  expect_checks<Signature>({
      {"i", ""},
      {"a{sv}", ""},
      {"{sv}", ""},  // an array's element
      {"{vs}", "Dict key must be basic type"},
      {"{sv}i", "Exactly one complete type required in signature"},
      {"ii", "Exactly one complete type required in signature"},
      {"(i", "Struct started but not ended"},
      {"*", "Unknown typecode"},
  });
}

TEST(NamesTest, ATrailingNulIsDroppedAndAnInnerNulIsRefused) {
  expect_checks<InterfaceName>({
      {std::string_view("com.orbo.A\0", 11), ""},
      // libdbus would see only "com.orbo.A" and pass it.
      {std::string_view("com.orbo.A\0.x", 13), "Interface name contains a NUL byte"},
      {std::string_view("\0", 1), "Interface name was not valid: ''"},
  });
  EXPECT_EQ(InterfaceName::from_text(std::string_view("com.orbo.A\0", 11))->view().size(), 10u);
}

// A name of `length` bytes: "a." and then as many "b" as it takes.
std::string name_of_length(std::size_t length) { return "a." + std::string(length - 2, 'b'); }

TEST(NamesTest, LengthsAroundTheLongestNameAreCheckedWhole) {
  const std::string longest = name_of_length(255);
  const std::string too_long = name_of_length(256);
  const std::string far_too_long = name_of_length(4000);
  const std::string long_path = "/" + std::string(300, 'p') + "/" + std::string(300, 'q');
  expect_checks<InterfaceName>({
      {name_of_length(254), ""},
      {longest, ""},
      {std::string_view(longest.c_str(), longest.size() + 1), ""},  // with its NUL
      {too_long, "Interface name was not valid: '" + too_long + "'"},
      {far_too_long, "Interface name was not valid: '" + far_too_long + "'"},
  });
  expect_checks<BusPath>({{long_path, ""}, {long_path + "/", "Object path was not valid: '" + long_path + "/'"}});
}

TEST(NamesDeathTest, AnInvalidConstantStopsTheProcessWithLibdbusReason) {
  EXPECT_DEATH(InterfaceName::from_constant("com..orbo"),
               exactly("Invalid D-Bus name constant: Interface name was not valid: 'com..orbo'"));
  EXPECT_DEATH(Signature::from_constant("ii"),
               exactly("Invalid D-Bus name constant: Exactly one complete type required in signature"));
}

}  // namespace
}  // namespace dbus
