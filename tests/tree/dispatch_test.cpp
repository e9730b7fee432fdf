// Which method calls the tree answers, and with what.
#include <gtest/gtest.h>

#include <memory>

#include "cases.hpp"
#include "test_tree.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/message_builder.hpp"

namespace tree_test {
namespace {

using harness::build;
using harness::describe;
using tree_test::PrintTo;

struct DispatchCase {
  const char* what;
  const char* path;
  const char* interface;
  const char* member;
  std::vector<std::string> sent;  // empty: nothing at all is sent
  bool answered = true;
};

class Dispatch : public testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, AnswersEachKindOfCallAsTheOutcomeTableSays) {
  const DispatchCase& c = GetParam();
  const tree::ObjectTree tree = test_tree(std::make_shared<Values>());
  const dbus::Message call = build({.path = c.path, .interface = c.interface, .member = c.member});
  auto replies = tree.handle_call(call);
  if (!c.answered) {
    EXPECT_FALSE(replies.has_value());
    return;
  }
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(describe(*replies), c.sent);
  for (const dbus::Message& reply : *replies) {
    if (reply.type() != dbus::MessageType::signal) {
      EXPECT_EQ(reply.reply_serial(), call.serial());
    }
  }
}

const char* const unknown_interface = "error org.freedesktop.DBus.Error.UnknownInterface: Unknown interface ";
const char* const unknown_method = "error org.freedesktop.DBus.Error.UnknownMethod: Unknown method ";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Dispatch,
    testing::Values(
        DispatchCase{"UnregisteredPath", "/test", "com.test.Plain", "Twice", {}, false},
        DispatchCase{"RootPath", "/", "org.freedesktop.DBus.Introspectable", "Introspect", {}, false},
        DispatchCase{"PathInOtherCase", "/test/Object", "com.test.Plain", "Twice", {}, false},
        DispatchCase{"PathBelowObject", "/test/object/more", "com.test.Plain", "Twice", {}, false},
        DispatchCase{"PeerPingElsewhere", "/other", "org.freedesktop.DBus.Peer", "Ping", {}, false},
        DispatchCase{"PeerPingOnObject", object_path, "org.freedesktop.DBus.Peer", "Ping", {unknown_interface}},
        DispatchCase{"NoInterfaceHeader", object_path, "", "Introspect", {unknown_interface}},
        DispatchCase{"NoInterfaceHeaderForGet", object_path, "", "Get", {unknown_interface}},
        DispatchCase{"InterfaceInOtherCase", object_path, "com.test.plain", "Twice", {unknown_interface}},
        DispatchCase{"UnknownMember", object_path, "org.freedesktop.DBus.Properties", "Delete", {unknown_method}},
        DispatchCase{"MemberOfAnotherInterface", object_path, "com.test.Plain", "Get", {unknown_method}},
        DispatchCase{"HandlerMessagesInOrder",
                     object_path,
                     "com.test.Plain",
                     "Twice",
                     {"signal /test/object com.test.Plain.Twice", "return s \"Twice\""}},
        DispatchCase{"HandlerSendsNothing", object_path, "com.test.Plain", "Nothing", {}},
        DispatchCase{
            "HandlerError", object_path, "com.test.Plain", "Refuse", {"error com.test.Error.Refused: not today"}}),
    case_name<DispatchCase>);

TEST(Dispatch, IgnoresMessagesThatAreNotMethodCalls) {
  const tree::ObjectTree tree = test_tree(std::make_shared<Values>());
  const dbus::Message signal = build({.type = static_cast<int>(dbus::MessageType::signal),
                                      .path = object_path,
                                      .interface = "com.test.Plain",
                                      .member = "Twice"});
  EXPECT_FALSE(tree.handle_call(signal).has_value());
}

TEST(Dispatch, AnswersCallsThatExpectNoReply) {
  const tree::ObjectTree tree = test_tree(std::make_shared<Values>());
  const dbus::Message message =
      build({.path = object_path, .interface = "com.test.Plain", .member = "Refuse", .no_reply = true});
  auto replies = tree.handle_call(message);
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(describe(*replies), std::vector<std::string>{"error com.test.Error.Refused: not today"});
}

TEST(Dispatch, UsesTheDefaultInterfaceForCallsWithoutInterfaceHeader) {
  tree::TreeObject object = test_object(std::make_shared<Values>());
  object.default_interface = dbus::InterfaceName::from_constant("com.test.Plain");
  tree::ObjectTree tree;
  tree.add_object(std::move(object));
  auto replies = tree.handle_call(build({.path = object_path, .member = "Refuse"}));
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(describe(*replies), std::vector<std::string>{"error com.test.Error.Refused: not today"});
}

TEST(Dispatch, AnswersUnknownInterfaceWhenTheDefaultInterfaceIsNotOnTheObject) {
  tree::TreeObject object = test_object(std::make_shared<Values>());
  object.default_interface = dbus::InterfaceName::from_constant("com.test.Missing");
  tree::ObjectTree tree;
  tree.add_object(std::move(object));
  auto replies = tree.handle_call(build({.path = object_path, .member = "Refuse"}));
  ASSERT_TRUE(replies.has_value());
  EXPECT_EQ(describe(*replies), std::vector<std::string>{unknown_interface});
}

}  // namespace
}  // namespace tree_test
