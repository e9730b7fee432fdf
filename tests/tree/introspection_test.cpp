// The introspection document, byte for byte, and its answer over the tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cases.hpp"
#include "test_tree.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/introspection_text.hpp"
#include "tests/harness/message_builder.hpp"
#include "tests/harness/process.hpp"
#include "tree/introspection.hpp"

namespace tree_test {
namespace {

using tree_test::PrintTo;

const std::string doctype(harness::introspection_doctype);

tree::TreeObject bare_object(std::string_view path) {
  return tree::TreeObject{dbus::BusPath::from_constant(path), std::nullopt, {}, std::make_shared<Values>()};
}

tree::InterfaceDef interface_named(std::string_view name) {
  return tree::InterfaceDef{dbus::InterfaceName::from_constant(name), {}, {}, {}, {}};
}

tree::ArgDef arg(std::optional<std::string> name, std::string_view type) {
  return tree::ArgDef{std::move(name), dbus::Signature::from_constant(type)};
}

tree::MethodDef method(std::string_view name, std::vector<tree::ArgDef> in = {}, std::vector<tree::ArgDef> out = {}) {
  return tree::MethodDef{dbus::MemberName::from_constant(name),
                         [](const tree::MethodContext&) -> tree::HandlerResult { return {}; },
                         std::move(in),
                         std::move(out),
                         {}};
}

// The tree's own object for its documents: one interface with one readwrite "i" property,
// Introspectable, and the Properties it brings.
tree::InterfaceDef settings_interface() {
  tree::InterfaceDef settings = interface_named("com.test.Settings");
  settings.add_property(int_property("Level", &Values::level));
  return settings;
}

tree::ObjectTree settings_tree() {
  tree::TreeObject object = bare_object("/com/test/Settings");
  tree::add_interface(object, settings_interface());
  tree::add_introspectable(object);
  tree::ObjectTree tree;
  tree.add_object(std::move(object));
  return tree;
}

const std::string settings_document = doctype +
                                      "<node name=\"/com/test/Settings\">\n"
                                      "  <interface name=\"com.test.Settings\">\n"
                                      "    <property name=\"Level\" type=\"i\" access=\"readwrite\"/>\n"
                                      "  </interface>\n" +
                                      std::string(harness::standard_interfaces) + "</node>";

TEST(Introspection, DescribesAnObjectByteForByte) {
  const tree::ObjectTree tree = settings_tree();
  const tree::TreeObject& object = tree.objects().at("/com/test/Settings");
  EXPECT_EQ(tree::introspect(object, tree), settings_document);
}

TEST(Introspection, AnswersIntrospectWithTheDocumentAndIgnoresArguments) {
  const tree::ObjectTree tree = settings_tree();
  using namespace harness::args;
  auto replies = tree.handle_call(harness::build({.path = "/com/test/Settings",
                                                  .interface = "org.freedesktop.DBus.Introspectable",
                                                  .member = "Introspect",
                                                  .args = {i(1), s("extra")}}));
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(harness::describe(*replies), std::vector<std::string>{"return s \"" + settings_document + "\""});
}

// What code generators read: the interface alone, in a node without a name, with the
// documentation that the live document leaves out (Definitions/Elements).
TEST(Introspection, DocumentsOneInterfaceAloneForCodeGenerators) {
  tree::InterfaceDef documented = settings_interface();
  documented.annotations = {{"org.gtk.GDBus.DocString", "All <settings>."}};
  documented.properties.at("Level").annotations = {{"org.gtk.GDBus.DocString.Short", "The level."}};
  EXPECT_EQ(tree::interface_document(documented),
            doctype +
                "<node>\n"
                "  <interface name=\"com.test.Settings\">\n"
                "    <property name=\"Level\" type=\"i\" access=\"readwrite\">\n"
                "      <annotation name=\"org.gtk.GDBus.DocString.Short\" value=\"The level.\"/>\n"
                "    </property>\n"
                "    <annotation name=\"org.gtk.GDBus.DocString\" value=\"All &lt;settings&gt;.\"/>\n"
                "  </interface>\n"
                "</node>\n");
}

TEST(Introspection, DocumentsAreValidAgainstTheInstalledDtd) {
  const char* xmllint = "/usr/bin/xmllint";
  const char* dtd = "/usr/share/xml/dbus-1/introspect.dtd";
  if (!std::filesystem::exists(xmllint) || !std::filesystem::exists(dtd)) {
    GTEST_SKIP() << "xmllint or the introspection DTD is not installed";
  }
  for (const std::string& document : {settings_document, tree::interface_document(settings_interface())}) {
    const auto check = harness::run_to_end(
        xmllint, {.arguments = {"--noout", "--nonet", "--dtdvalid", dtd, "-"}, .standard_input = document});
    EXPECT_EQ(check.status, harness::ExitStatus::exited(0)) << document << check.standard_error;
  }
}

struct ChildrenCase {
  const char* what;
  std::vector<const char*> registered;
  const char* asked;
  std::vector<std::string> listed;
};

class Children : public testing::TestWithParam<ChildrenCase> {};

TEST_P(Children, ListsDirectRegisteredDescendantsOnly) {
  const ChildrenCase& c = GetParam();
  tree::ObjectTree tree;
  for (const char* path : c.registered) tree.add_object(bare_object(path));
  const tree::TreeObject& object = tree.objects().at(c.asked);

  std::vector<std::string> listed;
  for (const tree::TreeObject* child : tree::children(tree, object)) listed.push_back(child->path.str());
  EXPECT_EQ(listed, c.listed);

  std::string nodes;
  const std::size_t cut = std::string_view(c.asked) == "/" ? 1 : std::string_view(c.asked).size() + 1;
  for (const std::string& path : c.listed) nodes += "  <node name=\"" + path.substr(cut) + "\"/>\n";
  EXPECT_EQ(tree::introspect(object, tree), doctype + "<node name=\"" + c.asked + "\">\n" + nodes + "</node>");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Children,
    testing::Values(
        ChildrenCase{"NestedObjectHidesDeeperOnes", {"/a", "/a/b", "/a/b/c", "/a/d/e"}, "/a", {"/a/b", "/a/d/e"}},
        ChildrenCase{"RootListsTopLevelOnly", {"/", "/a", "/a/b", "/a/b/c", "/a/d/e"}, "/", {"/a"}},
        ChildrenCase{"UnregisteredRootStillHasChildren", {"/a", "/b/c"}, "/a", {}},
        ChildrenCase{"LeafHasNone", {"/a", "/a/b"}, "/a/b", {}},
        ChildrenCase{"SiblingWithSamePrefixIsNoChild", {"/a", "/ab", "/ab/c"}, "/a", {}},
        ChildrenCase{"LongerSiblingDoesNotHideGrandchild",
                     {"/a", "/a/b", "/a/b/c", "/a/bc", "/a/bc/d"},
                     "/a",
                     {"/a/b", "/a/bc"}},
        ChildrenCase{"DeepChildWithoutRegisteredParent", {"/a", "/a/x/y/z", "/a/x1"}, "/a", {"/a/x/y/z", "/a/x1"}}),
    case_name<ChildrenCase>);

struct ElementCase {
  const char* what;
  tree::InterfaceDef interface;
  std::string lines;  // between the node line and "</node>"
};

tree::InterfaceDef with_property(tree::EmitsChangedMode mode, tree::PropertyAccess access, tree::Annotations notes) {
  tree::InterfaceDef interface = interface_named("com.test.Shapes");
  tree::PropertyDef property = int_property("P", &Values::level);
  property.emits_changed = mode;
  property.access = access;
  property.annotations = std::move(notes);
  interface.add_property(std::move(property));
  return interface;
}

tree::InterfaceDef with_method(tree::MethodDef def) {
  tree::InterfaceDef interface = interface_named("com.test.Shapes");
  interface.add_method(std::move(def));
  return interface;
}

tree::InterfaceDef everything_in_order() {
  tree::InterfaceDef interface = interface_named("com.test.Shapes");
  interface.add_signal(tree::SignalDef{dbus::MemberName::from_constant("Moved"), {arg(std::nullopt, "i")}, {}});
  interface.add_property(int_property("Level", &Values::level));
  tree::MethodDef m = method("Go", {arg("speed", "u")}, {arg(std::nullopt, "b")});
  m.annotations = {{"z.last", "1"}, {"a.first", "2"}};
  interface.add_method(std::move(m));
  interface.annotations = {{"org.test.Note", "yes"}};
  return interface;
}

const std::vector<ElementCase> element_cases() {
  return {
      {"EmptyInterface", interface_named("com.test.Shapes"), "  <interface name=\"com.test.Shapes\"/>\n"},
      {"MethodWithoutArguments", with_method(method("Stop")),
       "  <interface name=\"com.test.Shapes\">\n    <method name=\"Stop\"/>\n  </interface>\n"},
      {"UnnamedInArgument", with_method(method("Say", {arg(std::nullopt, "s")})),
       "  <interface name=\"com.test.Shapes\">\n    <method name=\"Say\">\n"
       "      <arg type=\"s\" direction=\"in\"/>\n    </method>\n  </interface>\n"},
      {"InvalidatesProperty", with_property(tree::EmitsChangedMode::invalidates, tree::PropertyAccess::readwrite, {}),
       "  <interface name=\"com.test.Shapes\">\n    <property name=\"P\" type=\"i\" access=\"readwrite\">\n"
       "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"invalidates\"/>\n"
       "    </property>\n  </interface>\n"},
      {"ConstReadPropertyAmongOwnAnnotations",
       with_property(tree::EmitsChangedMode::constant, tree::PropertyAccess::read,
                     {{"org.freedesktop.DBus.Deprecated", "true"}, {"org.test.Z", "z"}}),
       "  <interface name=\"com.test.Shapes\">\n    <property name=\"P\" type=\"i\" access=\"read\">\n"
       "      <annotation name=\"org.freedesktop.DBus.Deprecated\" value=\"true\"/>\n"
       "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"const\"/>\n"
       "      <annotation name=\"org.test.Z\" value=\"z\"/>\n"
       "    </property>\n  </interface>\n"},
      {"FalseModeReplacesOwnAnnotation",
       with_property(tree::EmitsChangedMode::none, tree::PropertyAccess::write,
                     {{"org.freedesktop.DBus.Property.EmitsChangedSignal", "true"}}),
       "  <interface name=\"com.test.Shapes\">\n    <property name=\"P\" type=\"i\" access=\"write\">\n"
       "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" value=\"false\"/>\n"
       "    </property>\n  </interface>\n"},
      {"MethodsPropertiesSignalsThenAnnotations", everything_in_order(),
       "  <interface name=\"com.test.Shapes\">\n"
       "    <method name=\"Go\">\n"
       "      <arg name=\"speed\" type=\"u\" direction=\"in\"/>\n"
       "      <arg type=\"b\" direction=\"out\"/>\n"
       "      <annotation name=\"a.first\" value=\"2\"/>\n"
       "      <annotation name=\"z.last\" value=\"1\"/>\n"
       "    </method>\n"
       "    <property name=\"Level\" type=\"i\" access=\"readwrite\"/>\n"
       "    <signal name=\"Moved\">\n"
       "      <arg type=\"i\"/>\n"
       "    </signal>\n"
       "    <annotation name=\"org.test.Note\" value=\"yes\"/>\n"
       "  </interface>\n"},
      {"DocumentationIsLeftOut",
       with_property(tree::EmitsChangedMode::emits, tree::PropertyAccess::read,
                     {{"org.gtk.GDBus.DocString", "d"}, {"org.gtk.GDBus.DocString.Short", "s"}, {"org.test.Z", "z"}}),
       "  <interface name=\"com.test.Shapes\">\n    <property name=\"P\" type=\"i\" access=\"read\">\n"
       "      <annotation name=\"org.test.Z\" value=\"z\"/>\n"
       "    </property>\n  </interface>\n"},
      {"MarkupInAnnotationValueIsEscaped",
       with_property(tree::EmitsChangedMode::emits, tree::PropertyAccess::read, {{"org.test.Doc", "a<b & \"c\">'d'"}}),
       "  <interface name=\"com.test.Shapes\">\n    <property name=\"P\" type=\"i\" access=\"read\">\n"
       "      <annotation name=\"org.test.Doc\" value=\"a&lt;b &amp; &quot;c&quot;&gt;&apos;d&apos;\"/>\n"
       "    </property>\n  </interface>\n"},
  };
}

class Elements : public testing::TestWithParam<ElementCase> {};

TEST_P(Elements, AreWrittenWithTheirIndentsAndOrder) {
  const ElementCase& c = GetParam();
  tree::TreeObject object = bare_object("/s");
  tree::add_interface(object, c.interface);
  object.interfaces.erase("org.freedesktop.DBus.Properties");
  tree::ObjectTree tree;
  tree.add_object(std::move(object));
  EXPECT_EQ(tree::introspect(tree.objects().at("/s"), tree), doctype + "<node name=\"/s\">\n" + c.lines + "</node>");
}

INSTANTIATE_TEST_SUITE_P(Definitions, Elements, testing::ValuesIn(element_cases()), case_name<ElementCase>);

}  // namespace
}  // namespace tree_test
