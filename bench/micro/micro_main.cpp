// Micro-benchmarks of the service's per-request work without the bus: dispatch of Get through
// the real object tree, the introspection document, the configuration file reader, and the
// floor's reply for comparison.
#include <benchmark/benchmark.h>
#include <dbus/dbus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "dbus/message.hpp"
#include "dbus/message_reader.hpp"
#include "dbus/message_writer.hpp"
#include "src/bus_phase.hpp"
#include "src/conf/config_file.hpp"
#include "tree/introspection.hpp"
#include "tree/object_tree.hpp"

namespace {

constexpr std::int8_t stored_level = 20;

// The service's own tree: Set is never called here, so the radio and the file are never touched.
tree::ObjectTree service_tree() { return src::service_objects(src::make_range_service(stored_level)); }

struct Unref {
  void operator()(DBusMessage* message) const noexcept { dbus_message_unref(message); }
};
using RawMessage = std::unique_ptr<DBusMessage, Unref>;

// As if it came off the bus: numbered by its sender, the sender's name filled in by the daemon.
// Built with libdbus itself, for the floor's reply, which works on the plain message.
RawMessage raw_incoming_call(const char* interface, const char* member) {
  RawMessage call(dbus_message_new_method_call("com.orbo.RIDEviva", "/com/orbo/RIDEviva", interface, member));
  if (!call) std::abort();
  dbus_message_set_serial(call.get(), 1);
  dbus_message_set_sender(call.get(), ":1.42");
  return call;
}

// The same handed to our layer as its bytes.
dbus::Message incoming_call(const char* interface, const char* member) {
  const RawMessage raw = raw_incoming_call(interface, member);
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(raw.get(), &bytes, &length)) std::abort();
  const std::unique_ptr<char, void (*)(void*)> owned(bytes, dbus_free);
  auto call = dbus::Message::from_wire(std::string_view(bytes, static_cast<std::size_t>(length)));
  if (!call) std::abort();
  return std::move(*call);
}

dbus::Message get_range_call() {
  dbus::Message call = incoming_call("org.freedesktop.DBus.Properties", "Get");
  dbus::MessageWriter args(call);
  args.append_string("com.orbo.Configuration.Legacy");
  args.append_string("Range");
  return call;
}

// A benchmark of a wrong answer measures nothing: check the reply once before timing.
bool answers_range(const std::optional<std::vector<dbus::Message>>& replies) {
  if (!replies || replies->size() != 1 || (*replies)[0].type() != dbus::MessageType::method_return) return false;
  dbus::MessageReader reader((*replies)[0]);
  auto value = reader.enter_variant();
  if (!value) return false;
  auto level = value->read_int32();
  return level && *level == stored_level;
}

void dispatch_get(benchmark::State& state) {
  const tree::ObjectTree objects = service_tree();
  const dbus::Message call = get_range_call();
  if (!answers_range(objects.handle_call(call))) {
    state.SkipWithError("Get did not answer the stored level");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(objects.handle_call(call));
}
BENCHMARK(dispatch_get);

void dispatch_get_all(benchmark::State& state) {
  const tree::ObjectTree objects = service_tree();
  dbus::Message call = incoming_call("org.freedesktop.DBus.Properties", "GetAll");
  dbus::MessageWriter(call).append_string("com.orbo.Configuration.Legacy");
  for (auto _ : state) benchmark::DoNotOptimize(objects.handle_call(call));
}
BENCHMARK(dispatch_get_all);

void dispatch_introspect(benchmark::State& state) {
  const tree::ObjectTree objects = service_tree();
  const dbus::Message call = incoming_call("org.freedesktop.DBus.Introspectable", "Introspect");
  for (auto _ : state) benchmark::DoNotOptimize(objects.handle_call(call));
}
BENCHMARK(dispatch_introspect);

void introspection_document(benchmark::State& state) {
  const tree::ObjectTree objects = service_tree();
  const tree::TreeObject& object = objects.objects().begin()->second;
  state.counters["bytes"] = static_cast<double>(tree::introspect(object, objects).size());
  for (auto _ : state) benchmark::DoNotOptimize(tree::introspect(object, objects));
}
BENCHMARK(introspection_document);

// What the floor does per request besides reading and writing the socket.
void floor_reply(benchmark::State& state) {
  const RawMessage call = raw_incoming_call("org.freedesktop.DBus.Properties", "Get");
  const std::int32_t range = stored_level;
  for (auto _ : state) {
    DBusMessage* reply = dbus_message_new_method_return(call.get());
    DBusMessageIter args;
    DBusMessageIter variant;
    dbus_message_iter_init_append(reply, &args);
    dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, DBUS_TYPE_INT32_AS_STRING, &variant);
    dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &range);
    dbus_message_iter_close_container(&args, &variant);
    benchmark::DoNotOptimize(reply);
    dbus_message_unref(reply);
  }
}
BENCHMARK(floor_reply);

class ConfigFileOnDisk {
 public:
  ConfigFileOnDisk() {
    char pattern[] = "/tmp/ble-bench-conf.XXXXXX";
    if (mkdtemp(pattern) != nullptr) directory_ = pattern;
    std::ofstream(path()) << "[Bluetooth]\nRange = 20\n";
  }
  ~ConfigFileOnDisk() {
    std::remove(path().c_str());
    rmdir(directory_.c_str());
  }
  ConfigFileOnDisk(const ConfigFileOnDisk&) = delete;
  ConfigFileOnDisk& operator=(const ConfigFileOnDisk&) = delete;
  std::string path() const { return directory_ + "/bluetooth.conf"; }

 private:
  std::string directory_;
};

void config_file_load(benchmark::State& state) {
  const ConfigFileOnDisk file;
  auto first = src::config_file::load(file.path());
  if (!first || first->at("bluetooth").at("range") != "20") {
    state.SkipWithError("the configuration file did not read back");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(src::config_file::load(file.path()));
}
BENCHMARK(config_file_load);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  dbus_shutdown();
  return 0;
}
