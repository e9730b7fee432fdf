#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "bench/load/call_plan.hpp"
#include "dbus/message_reader.hpp"

namespace bench {
namespace {

LoadOptions options_for(CallKind kind) {
  LoadOptions options;
  options.kind = kind;
  options.range = 20;
  options.set_levels = {20, 21};
  return options;
}

struct Unref {
  void operator()(DBusMessage* message) const noexcept { dbus_message_unref(message); }
};
using RawMessage = std::unique_ptr<DBusMessage, Unref>;

// Replies as a server sends them, mistyped ones too: built with libdbus itself, numbered, and
// handed over as their bytes.
dbus::Message handed_over(const RawMessage& reply) {
  dbus_message_set_reply_serial(reply.get(), 7);
  dbus_message_set_serial(reply.get(), 8);
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(reply.get(), &bytes, &length)) throw std::bad_alloc();
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  return dbus::Message::from_wire(std::string_view(bytes, static_cast<std::size_t>(length))).value();
}

using Filler = std::function<void(DBusMessageIter&)>;

dbus::Message method_return(const Filler& fill) {
  const RawMessage reply{dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN)};
  DBusMessageIter args;
  dbus_message_iter_init_append(reply.get(), &args);
  fill(args);
  return handed_over(reply);
}

dbus::Message error_reply(const char* name, const char* text) {
  const RawMessage reply{dbus_message_new(DBUS_MESSAGE_TYPE_ERROR)};
  dbus_message_set_error_name(reply.get(), name);
  dbus_message_append_args(reply.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
  return handed_over(reply);
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
  const dbus::Message reply = GetParam().fill
                                  ? method_return(GetParam().fill)
                                  : error_reply("org.freedesktop.DBus.Error.UnknownMethod", "Unknown method ");
  const auto checked = plan.check(reply);
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
        ReplyCase{"getall_empty", CallKind::get_all, range_entries({}), "GetAll answered no Range"},
        ReplyCase{"getall_other_name", CallKind::get_all, range_entries({{"range", 20}}), "GetAll answered no Range"},
        ReplyCase{"getall_other_level", CallKind::get_all, range_entries({{"Range", 3}}), "Range is 3, expected 20"},
        ReplyCase{"getall_another_beside", CallKind::get_all, range_entries({{"Power", 0}, {"Range", 20}}), ""},
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
  const std::string changed = std::string(good_document) + " ";
  auto reply_with = [](const char* text) {
    return method_return([text](DBusMessageIter& a) { append_string(a, text); });
  };
  EXPECT_TRUE(plan.check(reply_with(good_document)).has_value());
  EXPECT_TRUE(plan.check(reply_with(good_document)).has_value());
  const auto differs = plan.check(reply_with(changed.c_str()));
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
    const dbus::Message call = CallPlan(options_for(shape.kind)).request(0);
    EXPECT_EQ(call.destination(), shape.destination) << shape.member;
    EXPECT_EQ(call.path(), shape.path) << shape.member;
    EXPECT_EQ(call.interface(), shape.interface) << shape.member;
    EXPECT_EQ(call.member(), shape.member) << shape.member;
    EXPECT_EQ(call.signature(), shape.signature) << shape.member;
  }
}

TEST(Requests, OfSetNameRangeAndCycleThroughTheLevels) {
  LoadOptions options = options_for(CallKind::set);
  options.set_levels = {0, 30, 7};
  CallPlan plan(options);
  for (std::uint64_t index = 0; index < 6; ++index) {
    const dbus::Message call = plan.request(index);
    dbus::MessageReader args(call);
    const auto interface = args.read_string();
    const auto property = args.read_string();
    auto variant = args.enter_variant();
    ASSERT_TRUE(variant.has_value());
    const auto level = variant->read_int32();
    ASSERT_TRUE(level.has_value());
    EXPECT_EQ(interface, "com.orbo.Configuration.Legacy");
    EXPECT_EQ(property, "Range");
    EXPECT_EQ(*level, options.set_levels[index % 3]) << index;
  }
}

}  // namespace
}  // namespace bench
