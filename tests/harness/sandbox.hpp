#pragma once
// Directories and mounts for integration tests, private to the test process and its children.
// Mounts need root: the test process moves into a mount namespace of its own, so nothing mounted
// here is seen by the rest of the machine, and the real /etc/wireless is never written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// First thing in a test, or in its fixture's SetUp, when it needs root (mounts, other accounts,
// file owners, a bridge that serves root only): as any other user the test is skipped, with
// the reason, before anything is made. A fixture whose members need root makes them in SetUp.
#define REQUIRE_ROOT(why) \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: " << (why)

namespace harness {

// Why WirelessSandbox, SmallFileSystem and every rig built on them need root.
inline constexpr std::string_view sandbox_mounts = "mounts in a private mount namespace";

// Once per process; later calls do nothing. Mounts made afterwards do not propagate back.
void enter_private_mount_namespace();

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();

  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
  pid_t owner_ = ::getpid();
};

// A tmpfs of a fixed size mounted on a fresh scratch directory: a small, fillable or read-only
// file system for storage failures.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(std::size_t bytes);
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  ~SmallFileSystem();

  const std::filesystem::path& path() const noexcept { return directory_.path(); }
  void make_read_only();

 private:
  ScratchDirectory directory_;
};

// A scratch directory bind-mounted over /etc/wireless, for this process and the children it
// starts from now on. A machine without /etc/wireless is left without one: the mount point
// exists in our namespace only.
class WirelessSandbox {
 public:
  static constexpr std::string_view mount_point = "/etc/wireless";
  static constexpr std::string_view config_path = "/etc/wireless/bluetooth.conf";

  WirelessSandbox();
  WirelessSandbox(const WirelessSandbox&) = delete;
  WirelessSandbox& operator=(const WirelessSandbox&) = delete;
  ~WirelessSandbox();

  // The directory behind the mount point.
  const std::filesystem::path& directory() const noexcept { return directory_.path(); }

  void write_config(std::string_view bytes) const;
  // The file's bytes, or nothing when it cannot be read as a file.
  std::optional<std::string> read_config() const;
  // Every entry of the directory, sorted, to show that nothing was added or left behind.
  std::string listing() const;
  // Visible through the mount point only; the scratch directory stays writable for clean-up.
  void make_read_only();

 private:
  ScratchDirectory directory_;
};

// Reads a whole file; nothing when it cannot be opened or read.
std::optional<std::string> read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace harness
