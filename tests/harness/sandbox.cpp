#include "tests/harness/sandbox.hpp"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace harness {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::system_error(errno, std::generic_category(), what); }

void mount_or_fail(const char* source, const std::string& target, const char* type, unsigned long flags,
                   const char* data) {
  if (::mount(source, target.c_str(), type, flags, data) != 0) fail("mount on " + target);
}

}  // namespace

void enter_private_mount_namespace() {
  static bool entered = false;
  if (entered) return;
  if (::unshare(CLONE_NEWNS) != 0) fail("unshare(CLONE_NEWNS) (tests must run as root)");
  // Without this, mounts below shared mount points would still reach the host.
  mount_or_fail(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  entered = true;
}

ScratchDirectory::ScratchDirectory() {
  std::string name = (std::filesystem::temp_directory_path() / "ble-test.XXXXXX").string();
  if (::mkdtemp(name.data()) == nullptr) fail("mkdtemp " + name);
  path_ = name;
}

ScratchDirectory::~ScratchDirectory() {
  if (::getpid() != owner_) return;  // a forked child that exits normally leaves it to us
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

SmallFileSystem::SmallFileSystem(std::size_t bytes) {
  enter_private_mount_namespace();
  std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mount_or_fail("tmpfs", path().string(), "tmpfs", 0, options.c_str());
}

SmallFileSystem::~SmallFileSystem() { ::umount2(path().c_str(), MNT_DETACH); }

void SmallFileSystem::make_read_only() {
  mount_or_fail(nullptr, path().string(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
}

namespace {

// /etc as the rest of the machine sees it, with an empty directory "wireless" to mount on, in our
// namespace only: the real /etc is the lower layer of an overlay whose upper layer lives on a
// tmpfs of our own. A machine without /etc/wireless is left without one, and nothing written
// to /etc in here reaches the real one. Made once per process, undone when it exits.
class EtcWithMountPoint {
 public:
  EtcWithMountPoint() {
    mount_or_fail("tmpfs", layer_.path().string(), "tmpfs", 0, "mode=0755");
    try {
      const auto upper = layer_.path() / "upper";
      const auto work = layer_.path() / "work";
      std::filesystem::create_directories(upper / std::filesystem::path(WirelessSandbox::mount_point).filename());
      std::filesystem::create_directory(work);
      const std::string options = "lowerdir=/etc,upperdir=" + upper.string() + ",workdir=" + work.string();
      mount_or_fail("overlay", "/etc", "overlay", 0, options.c_str());
    } catch (...) {
      ::umount2(layer_.path().c_str(), MNT_DETACH);  // so that the scratch directory can go
      throw;
    }
  }
  EtcWithMountPoint(const EtcWithMountPoint&) = delete;
  EtcWithMountPoint& operator=(const EtcWithMountPoint&) = delete;
  ~EtcWithMountPoint() {
    if (::getpid() != owner_) return;  // a forked child shares our namespace: leave it alone
    ::umount2("/etc", MNT_DETACH);
    ::umount2(layer_.path().c_str(), MNT_DETACH);
  }

 private:
  pid_t owner_ = ::getpid();
  ScratchDirectory layer_;  // empty on the host; removed after the unmounts
};

}  // namespace

WirelessSandbox::WirelessSandbox() {
  enter_private_mount_namespace();
  static const EtcWithMountPoint etc;
  mount_or_fail(directory().c_str(), std::string(mount_point), nullptr, MS_BIND, nullptr);
}

WirelessSandbox::~WirelessSandbox() { ::umount2(std::string(mount_point).c_str(), MNT_DETACH); }

void WirelessSandbox::write_config(std::string_view bytes) const { write_file(directory() / "bluetooth.conf", bytes); }

std::optional<std::string> WirelessSandbox::read_config() const { return read_file(directory() / "bluetooth.conf"); }

std::string WirelessSandbox::listing() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& name : names) out += name + "\n";
  return out;
}

void WirelessSandbox::make_read_only() {
  std::string target(mount_point);
  mount_or_fail(nullptr, target, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
}

std::optional<std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace harness
