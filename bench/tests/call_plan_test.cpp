#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "bench/load/call_plan.hpp"

namespace bench {
namespace {

LoadOptions options_for(CallKind kind) {
  LoadOptions options;
  options.kind = kind;
  options.range = 20;
  options.set_levels = {20, 21};
  return options;
}

// Replies are built on a real request, as the server builds them.
MessageRef request_with_serial(const CallPlan& plan) {
  MessageRef call = plan.request(0);
  dbus_message_set_serial(call.get(), 7);
  return call;
}

using Filler = std::function<void(DBusMessageIter&)>;

MessageRef method_return(DBusMessage* call, const Filler& fill) {
  MessageRef reply{dbus_message_new_method_return(call)};
  DBusMessageIter args;
  dbus_message_iter_init_append(reply.get(), &args);
  fill(args);
  return reply;
}

void append_string(DBusMessageIter& iter, const char* text) {
  dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &text);
}

template <class T>
void append_variant(DBusMessageIter& iter, int type, const char* signature, T value) {
  DBusMessageIter variant;
  dbus_message_iter_open_container(&iter, DBUS_TYPE_VARIANT, signature, &variant);
  dbus_message_iter_append_basic(&variant, type, &value);
  dbus_message_iter_close_container(&iter, &variant);
}

Filler range_entries(std::vector<std::pair<const char*, std::int32_t>> entries) {
  return [entries](DBusMessageIter& args) {
    DBusMessageIter array;
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &array);
    for (const auto& [name, value] : entries) {
      DBusMessageIter entry;
      dbus_message_iter_open_container(&array, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
      append_string(entry, name);
      append_variant(entry, DBUS_TYPE_INT32, "i", value);
      dbus_message_iter_close_container(&array, &entry);
    }
    dbus_message_iter_close_container(&args, &array);
  };
}

const char* const good_document =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\" "
    "\"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node name=\"/com/orbo/RIDEviva\">\n"
    "  <interface name=\"com.orbo.Configuration.Legacy\">\n"
    "    <property name=\"Range\" type=\"i\" access=\"readwrite\"/>\n  </interface>\n</node>";

struct ReplyCase {
  std::string name;
  CallKind kind;
  Filler fill;          // builds a method return; empty: an error reply instead
  std::string problem;  // empty when the reply is right
};
void PrintTo(const ReplyCase& test, std::ostream* out) { *out << test.name; }

class ReplyCheck : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyCheck, AcceptsOnlyWhatACorrectServerAnswers) {
  CallPlan plan(options_for(GetParam().kind));
  MessageRef call = request_with_serial(plan);
  MessageRef reply = GetParam().fill ? method_return(call.get(), GetParam().fill)
                                     : MessageRef{dbus_message_new_error(
                                           call.get(), "org.freedesktop.DBus.Error.UnknownMethod", "Unknown method ")};
  const auto checked = plan.check(reply.get());
  if (GetParam().problem.empty()) {
    EXPECT_TRUE(checked.has_value()) << checked.error();
  } else {
    ASSERT_FALSE(checked.has_value());
    EXPECT_EQ(checked.error(), GetParam().problem);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyCheck,
    testing::Values(
        ReplyCase{"get_right", CallKind::get,
                  [](DBusMessageIter& a) { append_variant<std::int32_t>(a, DBUS_TYPE_INT32, "i", 20); }, ""},
        ReplyCase{"get_other_level", CallKind::get,
                  [](DBusMessageIter& a) { append_variant<std::int32_t>(a, DBUS_TYPE_INT32, "i", 21); },
                  "Range is 21, expected 20"},
        ReplyCase{"get_byte_in_variant", CallKind::get,
                  [](DBusMessageIter& a) { append_variant<unsigned char>(a, DBUS_TYPE_BYTE, "y", 20); },
                  "Range is not a variant holding an INT32"},
        ReplyCase{"get_bare_int", CallKind::get,
                  [](DBusMessageIter& a) {
                    std::int32_t v = 20;
                    dbus_message_iter_append_basic(&a, DBUS_TYPE_INT32, &v);
                  },
                  "reply signature \"i\", expected \"v\""},
        ReplyCase{"get_error", CallKind::get, nullptr,
                  "error reply org.freedesktop.DBus.Error.UnknownMethod: Unknown method "},
        ReplyCase{"getall_right", CallKind::get_all, range_entries({{"Range", 20}}), ""},
        ReplyCase{"getall_empty", CallKind::get_all, range_entries({}), "GetAll answered no properties"},
        ReplyCase{"getall_other_name", CallKind::get_all, range_entries({{"range", 20}}),
                  "GetAll answered the property \"range\", expected \"Range\""},
        ReplyCase{"getall_other_level", CallKind::get_all, range_entries({{"Range", 3}}), "Range is 3, expected 20"},
        ReplyCase{"getall_extra", CallKind::get_all, range_entries({{"Range", 20}, {"Power", 0}}),
                  "GetAll answered more than Range"},
        ReplyCase{"set_right", CallKind::set, [](DBusMessageIter&) {}, ""},
        ReplyCase{"set_with_value", CallKind::set,
                  [](DBusMessageIter& a) { append_variant<std::int32_t>(a, DBUS_TYPE_INT32, "i", 20); },
                  "reply signature \"v\", expected \"\""},
        ReplyCase{"introspect_right", CallKind::introspect, [](DBusMessageIter& a) { append_string(a, good_document); },
                  ""},
        ReplyCase{"introspect_without_range", CallKind::introspect,
                  [](DBusMessageIter& a) { append_string(a, "<node name=\"/com/orbo/RIDEviva\"></node>"); },
                  "implausible introspection document: <node name=\"/com/orbo/RIDEviva\"></node>"},
        ReplyCase{"getid_right", CallKind::get_id,
                  [](DBusMessageIter& a) { append_string(a, "0123456789abcdef0123456789abcdef"); }, ""},
        ReplyCase{"getid_upper_case", CallKind::get_id,
                  [](DBusMessageIter& a) { append_string(a, "0123456789ABCDEF0123456789abcdef"); },
                  "implausible bus id: 0123456789ABCDEF0123456789abcdef"},
        ReplyCase{"getid_short", CallKind::get_id, [](DBusMessageIter& a) { append_string(a, "0123"); },
                  "implausible bus id: 0123"}),
    [](const auto& test) { return test.param.name; });

TEST(ReplyCheck, HoldsLaterDocumentsToTheFirstOne) {
  CallPlan plan(options_for(CallKind::introspect));
  MessageRef call = request_with_serial(plan);
  const std::string changed = std::string(good_document) + " ";
  auto reply_with = [&call](const char* text) {
    return method_return(call.get(), [text](DBusMessageIter& a) { append_string(a, text); });
  };
  EXPECT_TRUE(plan.check(reply_with(good_document).get()).has_value());
  EXPECT_TRUE(plan.check(reply_with(good_document).get()).has_value());
  const auto differs = plan.check(reply_with(changed.c_str()).get());
  ASSERT_FALSE(differs.has_value());
  EXPECT_EQ(differs.error(), "introspection document differs from the first reply: " + changed);
}

struct RequestShape {
  CallKind kind;
  const char* destination;
  const char* path;
  const char* interface;
  const char* member;
  const char* signature;
};

TEST(Requests, GoToTheRightObjectWithTheRightArguments) {
  const RequestShape shapes[] = {
      {CallKind::get, "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "org.freedesktop.DBus.Properties", "Get", "ss"},
      {CallKind::get_all, "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "org.freedesktop.DBus.Properties", "GetAll", "s"},
      {CallKind::set, "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "org.freedesktop.DBus.Properties", "Set", "ssv"},
      {CallKind::introspect, "com.orbo.RIDEviva", "/com/orbo/RIDEviva", "org.freedesktop.DBus.Introspectable",
       "Introspect", ""},
      {CallKind::get_id, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", ""},
  };
  for (const auto& shape : shapes) {
    MessageRef call = CallPlan(options_for(shape.kind)).request(0);
    EXPECT_STREQ(dbus_message_get_destination(call.get()), shape.destination) << shape.member;
    EXPECT_STREQ(dbus_message_get_path(call.get()), shape.path) << shape.member;
    EXPECT_STREQ(dbus_message_get_interface(call.get()), shape.interface) << shape.member;
    EXPECT_STREQ(dbus_message_get_member(call.get()), shape.member) << shape.member;
    EXPECT_STREQ(dbus_message_get_signature(call.get()), shape.signature) << shape.member;
  }
}

TEST(Requests, OfSetNameRangeAndCycleThroughTheLevels) {
  LoadOptions options = options_for(CallKind::set);
  options.set_levels = {0, 30, 7};
  CallPlan plan(options);
  for (std::uint64_t index = 0; index < 6; ++index) {
    MessageRef call = plan.request(index);
    const char* interface = nullptr;
    const char* property = nullptr;
    DBusMessageIter args;
    DBusMessageIter variant;
    ASSERT_TRUE(dbus_message_iter_init(call.get(), &args));
    dbus_message_iter_get_basic(&args, &interface);
    dbus_message_iter_next(&args);
    dbus_message_iter_get_basic(&args, &property);
    dbus_message_iter_next(&args);
    dbus_message_iter_recurse(&args, &variant);
    std::int32_t level = -1;
    ASSERT_EQ(dbus_message_iter_get_arg_type(&variant), DBUS_TYPE_INT32);
    dbus_message_iter_get_basic(&variant, &level);
    EXPECT_STREQ(interface, "com.orbo.Configuration.Legacy");
    EXPECT_STREQ(property, "Range");
    EXPECT_EQ(level, options.set_levels[index % 3]) << index;
  }
}

}  // namespace
}  // namespace bench
