// Whole-file replacement that survives power cuts: write a sibling temporary file, sync it,
// rename it over the target, sync the directory.
#include <cfgkit.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "platform/fd/unique_fd.hpp"

namespace {

void set_error(GError** error, const char* what, const std::string& path, int error_number) {
  g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(error_number), "%s \"%s\": %s", what, path.c_str(),
              g_strerror(error_number));
}

std::string directory_of(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string temporary_template_for(const std::string& path) {
  auto slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return directory + "." + base + ".XXXXXX";
}

// The temporary file until it is renamed into place; on every other path it is closed and removed.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    fd_.reset();
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  // Returns an errno value, 0 on success. O_EXCL with a fresh random name each try. The lock
  // tells remove_stale_temporaries that a live writer still owns the file.
  int create_next_to(const std::string& target) {
    std::string name = temporary_template_for(target);
    platform::UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd) return errno;
    fd_ = std::move(fd);
    path_ = std::move(name);
    ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    return 0;
  }

  int fd() const noexcept { return fd_.get(); }
  const std::string& path() const noexcept { return path_; }

  // Closing reports late write errors that some file systems hold back until then.
  int close() noexcept { return fd_.close() == 0 ? 0 : errno; }

  void forget_after_rename() noexcept { path_.clear(); }

 private:
  platform::UniqueFd fd_;
  std::string path_;
};

// BLOCKS on storage. Returns an errno value, 0 when every byte went out.
int write_all(int fd, const char* data, gsize length) noexcept {
  while (length > 0) {
    ssize_t written = ::write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return ENOSPC;
    data += written;
    length -= static_cast<gsize>(written);
  }
  return 0;
}

int fsync_retrying(int fd) noexcept {
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// BLOCKS on storage. The rename is only durable once the directory entry itself is on disk.
int sync_directory(const std::string& directory) noexcept {
  const platform::UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return errno;
  return fsync_retrying(fd.get());
}

// A writer killed (or a device that lost power) between creating its temporary file and the
// rename leaves that file behind; without this, every such cut would add one for good. A
// temporary whose lock we can take has no live writer any more. Failures are ignored: this is
// housekeeping, and the write itself reports what matters.
void remove_stale_temporaries(const std::string& target) noexcept {
  const std::string directory = directory_of(target);
  const auto slash = target.rfind('/');
  const std::string prefix = "." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".";
  constexpr std::size_t random_part = 6;  // the XXXXXX of mkostemp

  platform::UniqueFd directory_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory_fd) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(directory_fd.get()), &::closedir);
  if (!entries) return;
  const int directory_entries = directory_fd.release();  // closed with the stream
  while (const dirent* entry = ::readdir(entries.get())) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + random_part || name.compare(0, prefix.size(), prefix) != 0) continue;
    const platform::UniqueFd fd(
        ::openat(directory_entries, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) continue;
    struct stat status {};
    if (::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      ::unlinkat(directory_entries, name.c_str(), 0);
    }
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int cfgkit_set_file_contents_with_sync_full(
    const char* path, const char* contents, gsize length, uid_t owner, gid_t group, mode_t mode, GError** error) {
  if (path == nullptr || *path == '\0' || (contents == nullptr && length > 0)) {
    set_error(error, "Invalid arguments for", path == nullptr ? "" : path, EINVAL);
    return 0;
  }
  const std::string target = path;
  remove_stale_temporaries(target);

  TemporaryFile temporary;
  if (int e = temporary.create_next_to(target)) {
    set_error(error, "Failed to create a temporary file for", target, e);
    return 0;
  }
  if (int e = write_all(temporary.fd(), contents, length)) {
    set_error(error, "Failed to write", target, e);
    return 0;
  }
  if (::fchown(temporary.fd(), owner, group) != 0) {
    set_error(error, "Failed to set the owner of", target, errno);
    return 0;
  }
  if (::fchmod(temporary.fd(), mode) != 0) {
    set_error(error, "Failed to set the mode of", target, errno);
    return 0;
  }
  if (int e = fsync_retrying(temporary.fd())) {
    set_error(error, "Failed to sync", target, e);
    return 0;
  }
  if (int e = temporary.close()) {
    set_error(error, "Failed to write", target, e);
    return 0;
  }
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
    set_error(error, "Failed to replace", target, errno);
    return 0;
  }
  temporary.forget_after_rename();
  if (int e = sync_directory(directory_of(target))) {
    set_error(error, "Failed to sync the directory of", target, e);
    return 0;
  }
  return 1;
}
