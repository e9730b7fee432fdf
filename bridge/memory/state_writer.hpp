#pragma once
// Writes the state file away from the bridge's loop: syncing a file can take seconds on a busy
// or failing disk, and the loop must go on answering calls and watching controllers meanwhile.
// Each text asked for replaces the last; only the newest is written, whole, when the writer is
// free, so a burst of levels costs one or two writes.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace bridge {

// The write of every text up to number `number`: the newest asked for when it began.
struct WriteEnd {
  std::uint64_t number = 0;
  std::expected<void, std::string> outcome;
};

class StateWriter {
 public:
  virtual ~StateWriter() = default;
  // Asks for the file to hold `text`; a text asked for before and not begun yet is dropped.
  // Returns the text's number, one more than the last. Never blocks on the disk.
  virtual std::uint64_t write(std::string text) = 0;
  // Readable when a write has ended; -1 for a writer that ends writes only when stepped.
  virtual int fd() const = 0;
  // The writes that have ended since the last call, in order. Never blocks.
  virtual std::vector<WriteEnd> ended() = 0;
};

// A thread of its own that writes with write_state_file, blocking all signals so that the
// loop's signal descriptors get them all. Waits for a write under way when destroyed.
std::unique_ptr<StateWriter> threaded_state_writer(std::filesystem::path file);

}  // namespace bridge
