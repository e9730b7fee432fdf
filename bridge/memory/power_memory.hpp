#pragma once
// The transmit power each controller should have: the service's last level that the bridge told
// the service was accepted. It is sent again whenever the controller may have lost it (a reset,
// which every power-on starts with, makes a controller forget a vendor setting such as its
// transmit power), and it is kept in the state file across restarts of the bridge.
//
// A new power is first proposed, and becomes the wanted one only once the state file holds it:
// a level the service is told was accepted must be the one a restarted bridge sends again. The
// file is written away from the loop (StateWriter); a proposal waits for its write, and is
// withdrawn when the write fails or comes too late, which writes the file back.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/log.hpp"
#include "bridge/memory/state_file.hpp"
#include "bridge/memory/state_writer.hpp"
#include "bridge/schedule/backoff.hpp"
#include "bridge/transmit_power.hpp"

namespace bridge {

// What is remembered at start, read from `file` (none: kept in memory only). Logs one line: what
// it holds and what it refused, or why there is nothing to restore. BLOCKS on file I/O.
PowerByController read_remembered(const std::optional<std::filesystem::path>& file, const Log& log);

class PowerMemory {
 public:
  // A proposal's number; its write is awaited with outcome().
  using Ticket = std::uint64_t;

  // `writer` keeps the powers in the state file `file` (named in log lines); none keeps them in
  // memory only, where a proposal is kept at once.
  PowerMemory(PowerByController remembered, std::optional<std::filesystem::path> file,
              std::unique_ptr<StateWriter> writer, Log log);
  PowerMemory(const PowerMemory&) = delete;
  PowerMemory& operator=(const PowerMemory&) = delete;

  std::optional<TransmitPower> wanted(std::string_view controller) const;
  std::vector<std::string> controllers() const;

  // Starts keeping `command` as its controller's power. Nothing to wait for (it is the wanted
  // power already and the file holds it, or there is no file): the ticket to pass to commit()
  // at once. Else the write is asked for: wait for outcome(). One proposal per controller.
  struct Proposal {
    Ticket ticket;
    bool kept;  // commit() may follow at once
  };
  Proposal propose(const TransmitPower& command);
  // The outcome of the write that keeps a proposal, once it has ended.
  std::optional<std::expected<void, std::string>> outcome(Ticket ticket) const;
  // The proposal becomes the wanted power.
  void commit(Ticket ticket);
  // The proposal is dropped: the file is written back to the wanted powers.
  void withdraw(Ticket ticket);

  // Takes the writes that have ended; writes the file again after a failure, first 1 s later,
  // then less and less often. Logs a failed write and the first good one after it once each.
  void step(TimePoint now);
  // What the loop waits on: the writer's descriptor (or -1), and the time of the next rewrite.
  int fd() const;
  std::optional<TimePoint> wake_time() const;

 private:
  struct Pending {
    TransmitPower command;
    Ticket ticket;
    std::uint64_t write = 0;  // the first write that holds it
    std::optional<std::expected<void, std::string>> outcome;
  };
  // The wanted powers with every proposal in their place: what the file should hold.
  std::string text() const;
  // The text the file will hold once the writes asked for have ended.
  const std::string& newest() const;
  std::uint64_t ask(std::string text);
  void take(const WriteEnd& end, TimePoint now);
  Pending* find(Ticket ticket);
  const Pending* find(Ticket ticket) const;

  std::optional<std::filesystem::path> file_;
  std::unique_ptr<StateWriter> writer_;
  Log log_;
  PowerByController wanted_;
  std::map<std::string, Pending, std::less<>> pending_;
  Ticket next_ticket_ = 1;
  // What the file holds, as far as the last good write tells; the text asked for, by number.
  std::string written_;
  std::map<std::uint64_t, std::string> asked_;
  bool write_failed_ = false;
  Backoff rewrite_;
};

}  // namespace bridge
