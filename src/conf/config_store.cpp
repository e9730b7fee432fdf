// The configuration file rewritten whole with the one setting through libcfgkit.
#include "src/conf/config_file.hpp"

#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <cfgkit.h>
#include "text/utf8.hpp"

namespace src::config_file {
namespace {

constexpr mode_t config_file_mode = 0644;

// Owns the GError that libcfgkit leaves for a failed write, if it leaves one.
class CfgkitError {
 public:
  CfgkitError() = default;
  CfgkitError(const CfgkitError&) = delete;
  CfgkitError& operator=(const CfgkitError&) = delete;
  ~CfgkitError() { g_clear_error(&error_); }
  GError** out() noexcept { return &error_; }
  const GError* get() const noexcept { return error_; }

 private:
  GError* error_ = nullptr;
};

std::string complaint(const GError* error) {
  if (error == nullptr) return "Unknown error occurred.\n";
  return "Error: " + text::repair_utf8(error->message ? error->message : "") + "\n";
}

}  // namespace

void store(const std::string& path, std::int8_t level) {
  const std::string contents = contents_for(level);
  CfgkitError error;
  // BLOCKS until the file and its directory are on storage.
  int stored = cfgkit_set_file_contents_with_sync_full(path.c_str(), contents.c_str(), contents.size(), ::getuid(),
                                                       ::getgid(), config_file_mode, error.out());
  if (stored != 0) return;
  std::string text = complaint(error.get());
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace src::config_file
