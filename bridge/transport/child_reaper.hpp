#pragma once
// Makes the bridge the end of everything a tool leaves running: a descendant that left the
// tool's process group (setsid, say) survives the group's kill, so the bridge becomes the
// parent of such orphans, kills them, and reaps them, so that none is left as a zombie.
#include <sys/types.h>

#include <expected>
#include <set>
#include <string>

#include "platform/fd/unique_fd.hpp"

namespace bridge {

class ChildReaper {
 public:
  // Makes this process a child subreaper (orphans of its descendants become its children) and
  // blocks SIGCHLD for the whole process, which is read through a descriptor instead.
  static std::expected<ChildReaper, std::string> adopt_orphans();

  // Readable when a child has ended.
  int fd() const noexcept { return fd_.get(); }

  // Whether a child's end was announced since the last time, taking the announcements.
  bool announced();
  // Kills every child except those in `running` (the tools whose runs go on) and reaps those
  // that have ended; the others are reaped when their end is announced. Never blocks.
  void end_all_but(const std::set<pid_t>& running);

 private:
  explicit ChildReaper(platform::UniqueFd fd) noexcept : fd_(std::move(fd)) {}
  platform::UniqueFd fd_;
};

}  // namespace bridge
