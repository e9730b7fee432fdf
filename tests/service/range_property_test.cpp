// The Range property as clients meet it: Properties calls handed to the service's object tree,
// with a radio double and the real configuration file writer.
#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbus/message.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "dbus/names.hpp"
#include "src/bus_phase.hpp"
#include "src/conf/config_file.hpp"
#include "src/conf/range_service.hpp"

namespace src {
namespace {

constexpr const char* legacy = "com.orbo.Configuration.Legacy";

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// As it arrives: numbered by the caller's connection (replies refer to the serial), so built with
// libdbus itself and handed over as its bytes.
dbus::Message properties_call(const char* member) {
  const std::unique_ptr<DBusMessage, void (*)(DBusMessage*)> raw(
      dbus_message_new_method_call("com.orbo.RIDEviva", "/com/orbo/RIDEviva", "org.freedesktop.DBus.Properties",
                                   member),
      dbus_message_unref);
  dbus_message_set_serial(raw.get(), 41);
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(raw.get(), &bytes, &length)) throw std::runtime_error("out of memory");
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  return dbus::Message::from_wire(std::string_view(bytes, static_cast<std::size_t>(length))).value();
}

dbus::Message get_range_call() {
  auto call = properties_call("Get");
  dbus::MessageWriter args(call);
  args.append_string(legacy);
  args.append_string("Range");
  return call;
}

dbus::Message set_range_call(std::int32_t level) {
  auto call = properties_call("Set");
  dbus::MessageWriter args(call);
  args.append_string(legacy);
  args.append_string("Range");
  args.with_variant(dbus::Signature::from_constant("i"),
                    [level](dbus::MessageWriter& value) { value.append_int32(level); });
  return call;
}

std::string error_name(const dbus::Message& reply) { return std::string(reply.error_name().value_or("")); }

std::string first_string(const dbus::Message& reply) {
  dbus::MessageReader reader(reply);
  return reader.read_string().value_or("<no string>");
}

// Records every level it is given, and refuses them with `failure` while one is set.
class RecordingRadio final : public Radio {
 public:
  RecordingRadio(std::vector<std::int8_t>& applied, const std::optional<std::string>& failure)
      : applied_(applied), failure_(failure) {}
  std::expected<void, Error> apply(std::int8_t level) override {
    applied_.push_back(level);
    if (failure_) return std::unexpected(Error(*failure_));
    return {};
  }

 private:
  std::vector<std::int8_t>& applied_;
  const std::optional<std::string>& failure_;
};

class RangeProperty : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("range-property-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    conf_ = dir_ / "bluetooth.conf";
    std::ofstream(conf_) << "[Bluetooth]\nRange = 7\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The service's own object tree over a service holding `level`, with the radio double and the
  // real configuration file.
  void start(std::int8_t level, const std::filesystem::path& conf) {
    service_ = std::make_shared<RangeService>(level, std::make_unique<RecordingRadio>(radio_, radio_failure_),
                                              std::make_unique<ConfigFileStore>(conf.string()));
    objects_.emplace(service_objects(service_));
  }

  std::vector<dbus::Message> handle(const dbus::Message& call) {
    auto sent = objects_->handle_call(call);
    EXPECT_TRUE(sent.has_value()) << "the object must answer";
    return sent ? std::move(*sent) : std::vector<dbus::Message>{};
  }

  std::int32_t range_on_bus() {
    auto replies = handle(get_range_call());
    EXPECT_EQ(replies.size(), 1u);
    if (replies.empty() || replies[0].type() != dbus::MessageType::method_return) return -999;
    dbus::MessageReader reader(replies[0]);
    auto value = reader.enter_variant();
    if (!value) return -998;
    return value->read_int32().value_or(-997);
  }

  std::filesystem::path dir_, conf_;
  std::shared_ptr<RangeService> service_;
  std::optional<tree::ObjectTree> objects_;
  std::vector<std::int8_t> radio_;
  std::optional<std::string> radio_failure_;
};

TEST_F(RangeProperty, GetAnswersTheHeldLevelAsInt32) {
  start(7, conf_);
  EXPECT_EQ(range_on_bus(), 7);
}

TEST_F(RangeProperty, SetRefusesLevelsOutsideZeroToThirtyWithInvalidArgs) {
  const struct {
    std::int32_t level;
    const char* message;
  } rows[] = {
      {31, "Invalid argument Bluetooth LE range 31 not between [0, 30]"},
      {-1, "Invalid argument Bluetooth LE range -1 not between [0, 30]"},
      {2147483647, "Invalid argument Bluetooth LE range 2147483647 not between [0, 30]"},
      {263, "Invalid argument Bluetooth LE range 263 not between [0, 30]"},  // must not wrap to 7
  };
  start(7, conf_);
  for (const auto& row : rows) {
    auto replies = handle(set_range_call(row.level));
    ASSERT_EQ(replies.size(), 1u) << "no signal for a refusal";
    EXPECT_EQ(replies[0].type(), dbus::MessageType::error);
    EXPECT_EQ(error_name(replies[0]), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(first_string(replies[0]), row.message);
  }
  EXPECT_EQ(range_on_bus(), 7);
  EXPECT_TRUE(radio_.empty());
  EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = 7\n");
}

TEST_F(RangeProperty, AcceptedSetSendsTheChangeBeforeTheReplyAndRewritesTheFile) {
  const std::int32_t levels[] = {0, 30, 25, 25};
  start(7, conf_);
  for (const auto level : levels) {
    auto replies = handle(set_range_call(level));
    ASSERT_EQ(replies.size(), 2u) << level;
    EXPECT_EQ(replies[0].type(), dbus::MessageType::signal);
    EXPECT_EQ(replies[0].path(), "/com/orbo/RIDEviva");
    EXPECT_EQ(replies[0].member(), "PropertiesChanged");
    EXPECT_EQ(replies[1].type(), dbus::MessageType::method_return);
    EXPECT_EQ(replies[1].signature(), "");
    EXPECT_EQ(range_on_bus(), level);
    EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = " + std::to_string(level) + "\n");
  }
  EXPECT_EQ(radio_, (std::vector<std::int8_t>{0, 30, 25, 25}));
}

TEST_F(RangeProperty, RadioFailureAnswersFailedAndKeepsThePreviousLevelAndFile) {
  const char* failures[] = {"Set BLE Power failed: 12",
                            "D-Bus argument type mismatch at position 0: expected String, found nothing"};
  start(7, conf_);
  for (const char* failure : failures) {
    radio_failure_ = failure;
    auto replies = handle(set_range_call(25));
    ASSERT_EQ(replies.size(), 1u) << "no signal for a failure";
    EXPECT_EQ(error_name(replies[0]), "org.freedesktop.DBus.Error.Failed");
    EXPECT_EQ(first_string(replies[0]), failure);
    EXPECT_EQ(range_on_bus(), 7);
    EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = 7\n");
  }
  // The controller takes the next level again: nothing stuck from the refusal.
  radio_failure_.reset();
  EXPECT_EQ(handle(set_range_call(25)).size(), 2u);
  EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = 25\n");
}

TEST_F(RangeProperty, UnwritableFileIsComplainedAboutButTheLevelStillApplies) {
  start(7, dir_ / "missing-directory" / "bluetooth.conf");
  testing::internal::CaptureStderr();
  auto replies = handle(set_range_call(25));
  const std::string complaint = testing::internal::GetCapturedStderr();
  EXPECT_EQ(complaint.rfind("Error: ", 0), 0u) << complaint;
  EXPECT_EQ(complaint.back(), '\n');
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].member(), "PropertiesChanged");
  EXPECT_EQ(replies[1].type(), dbus::MessageType::method_return);
  EXPECT_EQ(range_on_bus(), 25);
  EXPECT_EQ(radio_, std::vector<std::int8_t>{25});
}

}  // namespace
}  // namespace src
