#include "bridge/memory/state_writer.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "bridge/memory/state_file.hpp"
#include "platform/fd/unique_fd.hpp"

namespace bridge {
namespace {

class ThreadedStateWriter final : public StateWriter {
 public:
  explicit ThreadedStateWriter(std::filesystem::path file)
      : file_(std::move(file)), done_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!done_) {
      std::perror("eventfd");
      std::abort();  // out of descriptors at start: nothing could be kept
    }
    // The thread starts with every signal blocked, so none can reach it before it could block
    // them itself; the loop's own mask is put back at once.
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    thread_ = std::thread([this] { run(); });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  ~ThreadedStateWriter() override {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();  // BLOCKS until a write under way has ended
  }

  std::uint64_t write(std::string text) override {
    std::uint64_t number;
    {
      const std::lock_guard lock(mutex_);
      number = ++asked_;
      next_ = Asked{number, std::move(text)};
    }
    wake_.notify_one();
    return number;
  }

  int fd() const override { return done_.get(); }

  std::vector<WriteEnd> ended() override {
    std::uint64_t count;
    while (::read(done_.get(), &count, sizeof count) > 0) {
    }
    const std::lock_guard lock(mutex_);
    return std::exchange(ended_, {});
  }

 private:
  struct Asked {
    std::uint64_t number;
    std::string text;
  };

  void run() {
    for (;;) {
      Asked asked;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || next_; });
        if (!next_) return;  // stopping, with nothing left to write
        asked = std::move(*next_);
        next_.reset();
      }
      auto outcome = write_state_file(file_, asked.text);  // BLOCKS on the disk, seconds at worst
      {
        const std::lock_guard lock(mutex_);
        ended_.push_back({asked.number, std::move(outcome)});
      }
      // One count per write that ended, read and cleared by the loop: it cannot overflow.
      const std::uint64_t one = 1;
      if (::write(done_.get(), &one, sizeof one) < 0) std::abort();
    }
  }

  const std::filesystem::path file_;
  platform::UniqueFd done_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Asked> next_;
  std::vector<WriteEnd> ended_;
  std::uint64_t asked_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<StateWriter> threaded_state_writer(std::filesystem::path file) {
  return std::make_unique<ThreadedStateWriter>(std::move(file));
}

}  // namespace bridge
