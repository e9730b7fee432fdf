// Writing direction of ConfigFile: the one setting, through libcfgkit.
#include <glib.h>
#include <unistd.h>

#include <cstdio>

#include "dbus/utf8.hpp"
#include "platform/cfgkit/cfgkit.h"
#include "src/conf/config_file.hpp"

namespace ranged {
namespace {

constexpr mode_t config_file_mode = 0644;

// Owns the library's error record, if it leaves one.
class ErrorRecord {
 public:
  ErrorRecord() = default;
  ErrorRecord(const ErrorRecord&) = delete;
  ErrorRecord& operator=(const ErrorRecord&) = delete;
  ~ErrorRecord() { g_clear_error(&record_); }
  GError** out() noexcept { return &record_; }
  const GError* get() const noexcept { return record_; }

 private:
  GError* record_ = nullptr;
};

std::string complaint(const GError* record) {
  if (record == nullptr) return "Unknown error occurred.\n";
  return "Error: " + dbus::repair_utf8(record->message ? record->message : "") + "\n";
}

}  // namespace

std::string ConfigFile::contents_for(std::int8_t level) {
  return "[Bluetooth]\nRange = " + std::to_string(level) + "\n";
}

void ConfigFile::store(const std::string& path, std::int8_t level) {
  const std::string contents = contents_for(level);
  ErrorRecord error;
  // BLOCKS until the file and its directory are on storage.
  int stored = cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.c_str(), contents.size(),
                                                      ::getuid(), ::getgid(), config_file_mode,
                                                      error.out());
  if (stored != 0) return;
  std::string text = complaint(error.get());
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace ranged
