// Bytes turned into a message (dbus_message_demarshal) and handed to the service's real object
// tree, whose RangeService puts levels on a recording radio and into a recording store.
// Whatever arrives: calls to our object get exactly one answer to that call (plus the change
// signal after an accepted Set), everything else gets none, replies stay small, the radio and
// the file only ever see levels 0 to 30, and the held level is the last one the radio took.
#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbus/message.hpp"
#include "fuzz/oracles/mismatch.hpp"
#include "src/bus_phase.hpp"
#include "src/conf/range_service.hpp"

namespace {

constexpr std::int8_t start_level = 7;
constexpr std::size_t reply_overhead = 8192;  // a reply may exceed its call by this much

struct Recorder {
  std::vector<int> radio;
  std::vector<int> file;
  std::optional<std::int8_t> last_taken;
};

class RecordingRadio final : public src::Radio {
 public:
  explicit RecordingRadio(Recorder& recorder) : recorder_(recorder) {}
  std::expected<void, src::Error> apply(std::int8_t level) override {
    recorder_.radio.push_back(level);
    // Every third level is refused, so both ways out of the setter are taken.
    if (level % 3 == 2) return std::unexpected(src::Error("Set BLE Power failed: 12"));
    recorder_.last_taken = level;
    return {};
  }

 private:
  Recorder& recorder_;
};

class RecordingStore final : public src::LevelStore {
 public:
  explicit RecordingStore(Recorder& recorder) : recorder_(recorder) {}
  void store(std::int8_t level) override { recorder_.file.push_back(level); }

 private:
  Recorder& recorder_;
};

std::shared_ptr<src::RangeService> recording_service(Recorder& recorder) {
  return std::make_shared<src::RangeService>(start_level, std::make_unique<RecordingRadio>(recorder),
                                             std::make_unique<RecordingStore>(recorder));
}

std::size_t marshalled_size(DBusMessage* message) {
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(message, &bytes, &length)) return SIZE_MAX;
  dbus_free(bytes);
  return static_cast<std::size_t>(length);
}

void check(bool holds, const char* what, std::string_view input) {
  if (!holds) oracle::mismatch(what, input, "violated", "holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* raw = dbus_message_demarshal(reinterpret_cast<const char*>(data), static_cast<int>(size), &error);
  dbus_error_free(&error);
  if (raw == nullptr) return -1;
  // The bus daemon delivers no message of a type beyond the four that D-Bus defines (a test in
  // tests/reliability sends one), so the tree never meets one.
  if (dbus_message_get_type(raw) > DBUS_MESSAGE_TYPE_SIGNAL) {
    dbus_message_unref(raw);
    return -1;
  }
  const dbus::Message call = dbus::Message::adopt(raw);

  Recorder recorder;
  auto service = recording_service(recorder);
  const tree::ObjectTree objects = src::service_objects(service);
  const auto replies = objects.handle_call(call);

  const bool ours =
      dbus_message_get_type(raw) == DBUS_MESSAGE_TYPE_METHOD_CALL && dbus_message_has_path(raw, "/com/orbo/RIDEviva");
  check(ours == replies.has_value(), "answered exactly the calls to our object", input);
  if (replies) {
    check(replies->size() == 1 || replies->size() == 2, "one answer, or the change signal and the answer", input);
    const dbus::Message& answer = replies->back();
    const int type = dbus_message_get_type(answer.get());
    check(type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR, "the answer is a reply", input);
    check(dbus_message_get_reply_serial(answer.get()) == dbus_message_get_serial(raw), "the answer is to this call",
          input);
    if (replies->size() == 2) {
      check(dbus_message_is_signal(replies->front().get(), "org.freedesktop.DBus.Properties", "PropertiesChanged"),
            "the first of two is the change signal", input);
      check(type == DBUS_MESSAGE_TYPE_METHOD_RETURN && recorder.last_taken.has_value(),
            "a change signal only for a level the radio took", input);
    }
    for (const auto& reply : *replies) {
      check(marshalled_size(reply.get()) <= size + reply_overhead, "replies stay near the size of the call", input);
    }
  }
  for (int level : recorder.radio) check(level >= 0 && level <= 30, "the radio sees only levels 0 to 30", input);
  check(recorder.file.size() <= 1 && recorder.radio.size() <= 1, "one Set, at most one radio and store step", input);
  for (int level : recorder.file) check(recorder.last_taken == level, "the file keeps only what the radio took", input);
  check(service->range() == recorder.last_taken.value_or(start_level), "the held level is the last one taken", input);
  return 0;
}
