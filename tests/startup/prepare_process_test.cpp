#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "src/startup.hpp"

namespace {

// Closes the listed standard descriptors, prepares the process and reports through the exit
// code what is wrong afterwards (0 when nothing is). Runs in a death test's child.
[[noreturn]] void prepare_and_report(std::initializer_list<int> closed) {
  for (int fd : closed) ::close(fd);
  src::prepare_process();
  int faults = 0;
  for (int fd : {0, 1, 2}) {
    struct stat info {};
    bool is_dev_null = ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
    bool was_closed = std::find(closed.begin(), closed.end(), fd) != closed.end();
    if (was_closed && !is_dev_null) faults |= 1 << fd;
    if (was_closed && (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR) faults |= 8 << fd;
  }
  struct sigaction action {};
  if (::sigaction(SIGPIPE, nullptr, &action) != 0 || action.sa_handler != SIG_IGN) faults |= 64;
  // Something opened now must not take a standard descriptor.
  if (::open("/dev/null", O_RDONLY) <= 2) faults |= 128;
  ::_exit(faults);
}

TEST(PrepareProcess, ReopensClosedStandardDescriptorsOnDevNullAndIgnoresSigpipe) {
  const std::initializer_list<int> closed_sets[] = {{}, {0}, {1}, {2}, {0, 1}, {1, 2}, {0, 2}, {0, 1, 2}};
  for (const auto& closed : closed_sets) {
    std::string listed;
    for (int fd : closed) listed += std::to_string(fd) + " ";
    EXPECT_EXIT(prepare_and_report(closed), testing::ExitedWithCode(0), "") << "closed: " << listed;
  }
}

}  // namespace
