// Building definitions and objects: access rules, replacement and shared standard interfaces.
#include <gtest/gtest.h>

#include <memory>

#include "cases.hpp"
#include "test_tree.hpp"
#include "tree/introspection.hpp"
#include "tree/properties.hpp"

namespace tree_test {
namespace {

using tree_test::PrintTo;

struct AccessCase {
  const char* what;
  tree::PropertyAccess access;
  bool getter;
  bool setter;
  tree::EmitsChangedMode mode;
  bool readable;
  bool writable;
};

class PropertyRules : public testing::TestWithParam<AccessCase> {};

TEST_P(PropertyRules, ReadableAndWritableFollowAccessCallbacksAndMode) {
  const AccessCase& c = GetParam();
  tree::PropertyDef property = int_property("P", &Values::level);
  property.access = c.access;
  property.emits_changed = c.mode;
  if (!c.getter) property.getter = nullptr;
  if (!c.setter) property.setter = nullptr;
  EXPECT_EQ(property.readable(), c.readable);
  EXPECT_EQ(property.writable(), c.writable);
}

using A = tree::PropertyAccess;
using M = tree::EmitsChangedMode;

INSTANTIATE_TEST_SUITE_P(Table, PropertyRules,
                         testing::Values(AccessCase{"ReadWrite", A::readwrite, true, true, M::emits, true, true},
                                         AccessCase{"Read", A::read, true, true, M::emits, true, false},
                                         AccessCase{"Write", A::write, true, true, M::emits, false, true},
                                         AccessCase{"NoGetter", A::readwrite, false, true, M::emits, false, true},
                                         AccessCase{"NoSetter", A::readwrite, true, false, M::emits, true, false},
                                         AccessCase{"Const", A::readwrite, true, true, M::constant, true, false},
                                         AccessCase{"Invalidates", A::readwrite, true, true, M::invalidates, true,
                                                    true},
                                         AccessCase{"False", A::readwrite, true, true, M::none, true, true}),
                         case_name<AccessCase>);

tree::InterfaceDef interface_named(std::string_view name) {
  return tree::InterfaceDef{dbus::InterfaceName::from_constant(name), {}, {}, {}, {}};
}

TEST(Building, AddingUnderATakenNameReplacesTheOldDefinition) {
  tree::InterfaceDef interface = interface_named("com.test.Shapes");
  const auto in = [](std::string_view type) {
    return std::vector<tree::ArgDef>{tree::ArgDef{std::nullopt, dbus::Signature::from_constant(type)}};
  };
  const auto name = dbus::MemberName::from_constant("Go");
  interface.add_method(tree::MethodDef{name, nullptr, in("s"), {}, {}})
      .add_method(tree::MethodDef{name, nullptr, in("i"), {}, {}})
      .add_signal(tree::SignalDef{name, in("s"), {}})
      .add_signal(tree::SignalDef{name, in("u"), {}});
  tree::PropertyDef first = int_property("P", &Values::level);
  tree::PropertyDef second = int_property("P", &Values::level);
  second.access = tree::PropertyAccess::write;
  interface.add_property(std::move(first)).add_property(std::move(second));

  ASSERT_EQ(interface.methods.size(), 1u);
  EXPECT_EQ(interface.methods.at("Go").in_args.at(0).signature.str(), "i");
  ASSERT_EQ(interface.signals.size(), 1u);
  EXPECT_EQ(interface.signals.at("Go").args.at(0).signature.str(), "u");
  ASSERT_EQ(interface.properties.size(), 1u);
  EXPECT_EQ(interface.properties.at("P").access, tree::PropertyAccess::write);
}

std::vector<std::string> interface_names(const tree::TreeObject& object) {
  std::vector<std::string> names;
  for (const auto& [name, def] : object.interfaces) names.push_back(name);
  return names;
}

TEST(Building, OnlyAnInterfaceWithPropertiesBringsThePropertiesInterface) {
  tree::TreeObject object{dbus::BusPath::from_constant("/o"), std::nullopt, {}, {}};
  tree::add_interface(object, interface_named("com.test.Empty"));
  EXPECT_EQ(interface_names(object), std::vector<std::string>{"com.test.Empty"});

  tree::InterfaceDef with_property = interface_named("com.test.Full");
  with_property.add_property(int_property("P", &Values::level));
  tree::add_interface(object, std::move(with_property));
  tree::add_introspectable(object);
  EXPECT_EQ(interface_names(object),
            (std::vector<std::string>{"com.test.Empty", "com.test.Full", "org.freedesktop.DBus.Introspectable",
                                      "org.freedesktop.DBus.Properties"}));
}

TEST(Building, KeepsAPropertiesInterfaceTheObjectAlreadyHas) {
  tree::TreeObject object{dbus::BusPath::from_constant("/o"), std::nullopt, {}, {}};
  auto own = std::make_shared<const tree::InterfaceDef>(interface_named("org.freedesktop.DBus.Properties"));
  object.interfaces.emplace("org.freedesktop.DBus.Properties", own);
  tree::InterfaceDef with_property = interface_named("com.test.Full");
  with_property.add_property(int_property("P", &Values::level));
  tree::add_interface(object, std::move(with_property));
  EXPECT_EQ(object.interfaces.at("org.freedesktop.DBus.Properties"), own);
}

TEST(Building, ReplacesAnInterfaceAddedAgainUnderItsName) {
  tree::TreeObject object{dbus::BusPath::from_constant("/o"), std::nullopt, {}, {}};
  tree::InterfaceDef first = interface_named("com.test.Full");
  first.add_property(int_property("Old", &Values::level));
  tree::add_interface(object, std::move(first));
  tree::InterfaceDef second = interface_named("com.test.Full");
  second.add_property(int_property("New", &Values::level));
  tree::add_interface(object, std::move(second));
  EXPECT_FALSE(object.interfaces.at("com.test.Full")->properties.contains("Old"));
  EXPECT_TRUE(object.interfaces.at("com.test.Full")->properties.contains("New"));
}

TEST(Building, EveryObjectSharesTheStandardInterfaceDefinitions) {
  const tree::TreeObject one = test_object(std::make_shared<Values>());
  const tree::TreeObject two = test_object(std::make_shared<Values>());
  EXPECT_EQ(one.interfaces.at("org.freedesktop.DBus.Properties"), two.interfaces.at("org.freedesktop.DBus.Properties"));
  EXPECT_EQ(one.interfaces.at("org.freedesktop.DBus.Introspectable"),
            two.interfaces.at("org.freedesktop.DBus.Introspectable"));
  EXPECT_EQ(one.interfaces.at("org.freedesktop.DBus.Properties"), tree::properties_interface());
  EXPECT_NE(tree::properties_interface(), tree::introspectable_interface());
}

}  // namespace
}  // namespace tree_test
