#include "dbus/names.hpp"

#include <gtest/gtest.h>

#include "exact_text.hpp"

namespace bus {
namespace {

struct NameCase {
  std::string_view text;
  std::string_view refusal;  // empty when the text is a valid name
};

template <class Name>
void expect_checks(const std::vector<NameCase>& cases) {
  for (const NameCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const auto name = Name::from_text(c.text);
    if (c.refusal.empty()) {
      ASSERT_TRUE(name.has_value()) << name.error();
      EXPECT_EQ(name->view(), c.text);
    } else {
      ASSERT_FALSE(name.has_value());
      EXPECT_EQ(name.error(), c.refusal);
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
  const auto terminated = InterfaceName::from_text(std::string_view("com.orbo.A\0", 11));
  ASSERT_TRUE(terminated.has_value());
  EXPECT_EQ(terminated->str(), "com.orbo.A");
  EXPECT_EQ(terminated->view().size(), 10u);

  // libdbus would see only "com.orbo.A" and pass it.
  const auto inner = InterfaceName::from_text(std::string_view("com.orbo.A\0.x", 13));
  ASSERT_FALSE(inner.has_value());
  EXPECT_EQ(inner.error(), "Interface name contains a NUL byte");
}

TEST(NamesDeathTest, AnInvalidConstantStopsTheProcessWithLibdbusReason) {
  EXPECT_DEATH(InterfaceName::from_constant("com..orbo"),
               exactly("Invalid D-Bus name constant: Interface name was not valid: 'com..orbo'"));
  EXPECT_DEATH(Signature::from_constant("ii"),
               exactly("Invalid D-Bus name constant: Exactly one complete type required in signature"));
}

}  // namespace
}  // namespace bus
