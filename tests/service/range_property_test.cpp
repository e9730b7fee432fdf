// The Range property as clients meet it: Properties calls handed to the service's object tree,
// with a radio double and the real configuration file writer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dbus/message.hpp"
#include "src/bus_phase.hpp"
#include "src/conf/config_file.hpp"
#include "src/conf/range_service.hpp"
#include "tests/harness/describe.hpp"
#include "tests/harness/range_calls.hpp"

namespace src {
namespace {

using harness::describe;
using harness::get_range;
using harness::range_changed;
using harness::set_range;

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// What Get answers while the service holds `level`.
std::vector<std::string> held(std::int32_t level) { return {"return v i " + std::to_string(level)}; }

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

  // What the object sends for the call, in order.
  std::vector<std::string> handle(const dbus::Message& call) {
    auto sent = objects_->handle_call(call);
    EXPECT_TRUE(sent.has_value()) << "the object must answer";
    return sent ? describe(*sent) : std::vector<std::string>{};
  }

  std::filesystem::path dir_, conf_;
  std::shared_ptr<RangeService> service_;
  std::optional<tree::ObjectTree> objects_;
  std::vector<std::int8_t> radio_;
  std::optional<std::string> radio_failure_;
};

TEST_F(RangeProperty, GetAnswersTheHeldLevelAsInt32) {
  start(7, conf_);
  EXPECT_EQ(handle(get_range()), held(7));
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
    // No signal for a refusal.
    EXPECT_EQ(handle(set_range(row.level)),
              std::vector<std::string>{"error org.freedesktop.DBus.Error.InvalidArgs: " + std::string(row.message)});
  }
  EXPECT_EQ(handle(get_range()), held(7));
  EXPECT_TRUE(radio_.empty());
  EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = 7\n");
}

TEST_F(RangeProperty, AcceptedSetSendsTheChangeBeforeTheReplyAndRewritesTheFile) {
  const std::int32_t levels[] = {0, 30, 25, 25};
  start(7, conf_);
  for (const auto level : levels) {
    EXPECT_EQ(handle(set_range(level)), (std::vector<std::string>{range_changed(level), "return"}));
    EXPECT_EQ(handle(get_range()), held(level));
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
    // No signal for a failure.
    EXPECT_EQ(handle(set_range(25)),
              std::vector<std::string>{"error org.freedesktop.DBus.Error.Failed: " + std::string(failure)});
    EXPECT_EQ(handle(get_range()), held(7));
    EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = 7\n");
  }
  // The controller takes the next level again: nothing stuck from the refusal.
  radio_failure_.reset();
  EXPECT_EQ(handle(set_range(25)), (std::vector<std::string>{range_changed(25), "return"}));
  EXPECT_EQ(file_bytes(conf_), "[Bluetooth]\nRange = 25\n");
}

TEST_F(RangeProperty, UnwritableFileIsComplainedAboutButTheLevelStillApplies) {
  start(7, dir_ / "missing-directory" / "bluetooth.conf");
  testing::internal::CaptureStderr();
  const auto replies = handle(set_range(25));
  const std::string complaint = testing::internal::GetCapturedStderr();
  EXPECT_EQ(complaint.rfind("Error: ", 0), 0u) << complaint;
  EXPECT_EQ(complaint.back(), '\n');
  EXPECT_EQ(replies, (std::vector<std::string>{range_changed(25), "return"}));
  EXPECT_EQ(handle(get_range()), held(25));
  EXPECT_EQ(radio_, std::vector<std::int8_t>{25});
}

}  // namespace
}  // namespace src
