// Bytes turned into a message (dbus::Message::from_wire) and handed to the service's real object
// tree, whose RangeService puts levels on a recording radio and into a recording store.
// Whatever arrives: calls to our object get exactly one answer to that call (plus the change
// signal after an accepted Set), everything else gets none, replies stay small, the radio and
// the file only ever see levels 0 to 30, and the held level is the last one the radio took.
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

void check(bool holds, const char* what, std::string_view input) {
  if (!holds) oracle::mismatch(what, input, "violated", "holds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto parsed = dbus::Message::from_wire(input);
  if (!parsed) return -1;
  // The bus daemon delivers no message of a type beyond the four that D-Bus defines (a test in
  // tests/reliability sends one), so the tree never meets one. The type is the header's second
  // byte.
  if (data[1] > static_cast<int>(dbus::MessageType::signal)) return -1;
  const dbus::Message& call = *parsed;

  Recorder recorder;
  auto service = recording_service(recorder);
  const tree::ObjectTree objects = src::service_objects(service);
  const auto replies = objects.handle_call(call);

  const bool ours = call.type() == dbus::MessageType::method_call && call.path() == "/com/orbo/RIDEviva";
  check(ours == replies.has_value(), "answered exactly the calls to our object", input);
  if (replies) {
    check(replies->size() == 1 || replies->size() == 2, "one answer, or the change signal and the answer", input);
    const dbus::Message& answer = replies->back();
    const dbus::MessageType type = answer.type();
    check(type == dbus::MessageType::method_return || type == dbus::MessageType::error, "the answer is a reply", input);
    check(answer.reply_serial() == call.serial(), "the answer is to this call", input);
    if (replies->size() == 2) {
      const dbus::Message& first = replies->front();
      check(first.type() == dbus::MessageType::signal && first.interface() == "org.freedesktop.DBus.Properties" &&
                first.member() == "PropertiesChanged",
            "the first of two is the change signal", input);
      check(type == dbus::MessageType::method_return && recorder.last_taken.has_value(),
            "a change signal only for a level the radio took", input);
    }
    for (const auto& reply : *replies) {
      check(reply.to_wire().size() <= size + reply_overhead, "replies stay near the size of the call", input);
    }
  }
  for (int level : recorder.radio) check(level >= 0 && level <= 30, "the radio sees only levels 0 to 30", input);
  check(recorder.file.size() <= 1 && recorder.radio.size() <= 1, "one Set, at most one radio and store step", input);
  for (int level : recorder.file) check(recorder.last_taken == level, "the file keeps only what the radio took", input);
  check(service->range() == recorder.last_taken.value_or(start_level), "the held level is the last one taken", input);
  return 0;
}
