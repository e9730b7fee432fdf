// Get, GetAll and Set through the tree: every check in order, replies and change signals.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cases.hpp"
#include "test_tree.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/message_builder.hpp"

namespace tree_test {
namespace {

using harness::describe;
using tree_test::PrintTo;
using namespace harness::args;

struct PropertyCase {
  const char* what;
  const char* member;
  std::vector<harness::Arg> args;
  std::vector<std::string> sent;
  const char* values_after = "level=7 cached=1 quiet=2 silent=3 broken=4 secret=";
};

std::string show(const Values& v) {
  return "level=" + std::to_string(v.level) + " cached=" + std::to_string(v.cached) +
         " quiet=" + std::to_string(v.quiet) + " silent=" + std::to_string(v.silent) +
         " broken=" + std::to_string(v.broken) + " secret=" + v.secret;
}

class PropertiesCall : public testing::TestWithParam<PropertyCase> {};

TEST_P(PropertiesCall, SendsExactlyTheseMessagesAndLeavesTheseValues) {
  const PropertyCase& c = GetParam();
  auto values = std::make_shared<Values>();
  const tree::ObjectTree tree = test_tree(values);
  auto replies = tree.handle_call(harness::build(
      {.path = object_path, .interface = "org.freedesktop.DBus.Properties", .member = c.member, .args = c.args}));
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(describe(*replies), c.sent);
  EXPECT_EQ(show(*values), c.values_after);
}

const std::string failed = "error org.freedesktop.DBus.Error.Failed: ";
const std::string invalid = "error org.freedesktop.DBus.Error.InvalidArgs: ";
const std::string changed = "signal /test/object org.freedesktop.DBus.Properties.PropertiesChanged ";

// One row per case reads better than one argument per line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Get, PropertiesCall,
    testing::Values(
        PropertyCase{"ReadsReadWriteProperty", "Get", {s("com.test.Things"), s("Level")}, {"return v i 7"}},
        PropertyCase{"ReadsReadOnlyProperty", "Get", {s("com.test.Things"), s("Fixed")}, {"return v i 5"}},
        PropertyCase{"IgnoresExtraArguments", "Get", {s("com.test.Things"), s("Level"), i(9)}, {"return v i 7"}},
        PropertyCase{"NoArguments", "Get", {},
                     {failed + "D-Bus argument type mismatch at position 0: expected String, found nothing"}},
        PropertyCase{"IntegerInterfaceName", "Get", {i(3), s("Level")},
                     {failed + "D-Bus argument type mismatch at position 0: expected String, found i32"}},
        PropertyCase{"MissingPropertyName", "Get", {s("com.test.Things")},
                     {failed + "D-Bus argument type mismatch at position 1: expected String, found nothing"}},
        PropertyCase{"PropertyNameCheckedBeforeInterface", "Get", {s("bad..name"), y(1)},
                     {failed + "D-Bus argument type mismatch at position 1: expected String, found u8"}},
        PropertyCase{"EmptyInterfaceName", "Get", {s(""), s("Level")},
                     {invalid + "Invalid argument \"Interface name was not valid: ''\""}},
        PropertyCase{"InterfaceNameWithoutDot", "Get", {s("nodot"), s("Level")},
                     {invalid + "Invalid argument \"Interface name was not valid: 'nodot'\""}},
        PropertyCase{"InterfaceNameWithTabAndQuote", "Get", {s("a\t\"b.c"), s("Level")},
                     {invalid + "Invalid argument \"Interface name was not valid: 'a\\t\\\"b.c'\""}},
        PropertyCase{"InterfaceNotOnObject", "Get", {s("com.test.Nope"), s("level")},
                     {"error org.freedesktop.DBus.Error.UnknownInterface: Unknown interface com.test.Nope"}},
        PropertyCase{"PropertyNameInOtherCase", "Get", {s("com.test.Things"), s("level")},
                     {"error org.freedesktop.DBus.Error.UnknownProperty: Unknown property level"}},
        PropertyCase{"PropertyOfAnotherInterface", "Get", {s("org.freedesktop.DBus.Properties"), s("Level")},
                     {"error org.freedesktop.DBus.Error.UnknownProperty: Unknown property Level"}},
        PropertyCase{"WriteOnlyProperty", "Get", {s("com.test.Things"), s("Secret")},
                     {failed + "Property Secret is write only"}},
        PropertyCase{"FailingGetter", "Get", {s("com.test.Things"), s("Broken")},
                     {"error com.test.Error.Broken: getter broke"}}),
    case_name<PropertyCase>);

INSTANTIATE_TEST_SUITE_P(
    GetAll, PropertiesCall,
    testing::Values(
        PropertyCase{"ReadablePropertiesInByteOrder", "GetAll", {s("com.test.Gauges")},
                     {"return a{sv} [{s \"B\": v i 1}, {s \"Ba\": v s \"two\"}, {s \"a\": v i 3}]"}},
        PropertyCase{"InterfaceWithoutProperties", "GetAll", {s("org.freedesktop.DBus.Introspectable")},
                     {"return a{sv} []"}},
        PropertyCase{"FailingGetterAnswersForAll", "GetAll", {s("com.test.Things")},
                     {"error com.test.Error.Broken: getter broke"}},
        PropertyCase{"NoArguments", "GetAll", {},
                     {failed + "D-Bus argument type mismatch at position 0: expected String, found nothing"}},
        PropertyCase{"InvalidInterfaceName", "GetAll", {s("com..test")},
                     {invalid + "Invalid argument \"Interface name was not valid: 'com..test'\""}},
        PropertyCase{"InterfaceNotOnObject", "GetAll", {s("com.test.Nope")},
                     {"error org.freedesktop.DBus.Error.UnknownInterface: Unknown interface com.test.Nope"}}),
    case_name<PropertyCase>);

INSTANTIATE_TEST_SUITE_P(
    Set, PropertiesCall,
    testing::Values(
        PropertyCase{"SignalCarriesValueReadBackThenReply", "Set", {s("com.test.Things"), s("Level"), v(i(5))},
                     {changed + "s \"com.test.Things\", a{sv} [{s \"Level\": v i 10}, {s \"Mirror\": v i 11}], as [s \"Shadow\"]",
                      "return"},
                     "level=10 cached=1 quiet=2 silent=3 broken=4 secret="},
        PropertyCase{"InvalidatesModeListsTheName", "Set", {s("com.test.Things"), s("Cached"), v(i(9))},
                     {changed + "s \"com.test.Things\", a{sv} [], as [s \"Cached\"]", "return"},
                     "level=7 cached=9 quiet=2 silent=3 broken=4 secret="},
        PropertyCase{"FalseModeSendsNoSignal", "Set", {s("com.test.Things"), s("Quiet"), v(i(9))}, {"return"},
                     "level=7 cached=1 quiet=9 silent=3 broken=4 secret="},
        PropertyCase{"NoAutoEmitSendsNoSignal", "Set", {s("com.test.Things"), s("Silent"), v(i(9))}, {"return"},
                     "level=7 cached=1 quiet=2 silent=9 broken=4 secret="},
        PropertyCase{"WriteOnlyPropertySignalsWithoutValue", "Set", {s("com.test.Things"), s("Secret"), v(s("hush"))},
                     {changed + "s \"com.test.Things\", a{sv} [], as []", "return"},
                     "level=7 cached=1 quiet=2 silent=3 broken=4 secret=hush"},
        PropertyCase{"RefusingSetterSendsNoSignal", "Set", {s("com.test.Things"), s("Level"), v(i(-1))},
                     {"error com.test.Error.Refused: no negative levels"}},
        PropertyCase{"FailingGetterAfterSetterKeepsTheChange", "Set", {s("com.test.Things"), s("Broken"), v(i(9))},
                     {"error com.test.Error.Broken: getter broke"},
                     "level=7 cached=1 quiet=2 silent=3 broken=9 secret="},
        PropertyCase{"ReadOnlyProperty", "Set", {s("com.test.Things"), s("Fixed"), i(5)},
                     {"error org.freedesktop.DBus.Error.PropertyReadOnly: Property Fixed is read only"}},
        PropertyCase{"ConstModeProperty", "Set", {s("com.test.Things"), s("Constant"), v(i(5))},
                     {"error org.freedesktop.DBus.Error.PropertyReadOnly: Property Constant is read only"}},
        PropertyCase{"UnknownProperty", "Set", {s("com.test.Things"), s("Nope"), v(i(5))},
                     {"error org.freedesktop.DBus.Error.UnknownProperty: Unknown property Nope"}},
        PropertyCase{"ValueNotInVariant", "Set", {s("com.test.Things"), s("Level"), i(5)},
                     {invalid + "Invalid argument 2"}},
        PropertyCase{"ValueMissing", "Set", {s("com.test.Things"), s("Level")}, {invalid + "Invalid argument 2"}},
        PropertyCase{"VariantOfByte", "Set", {s("com.test.Things"), s("Level"), v(y(5))},
                     {failed + "Property Level cannot change type"}},
        PropertyCase{"VariantOfString", "Set", {s("com.test.Things"), s("Level"), v(s("5"))},
                     {failed + "Property Level cannot change type"}},
        PropertyCase{"MissingPropertyName", "Set", {s("com.test.Things"), i(5)},
                     {failed + "D-Bus argument type mismatch at position 1: expected String, found i32"}}),
    case_name<PropertyCase>);
// clang-format on

}  // namespace
}  // namespace tree_test
