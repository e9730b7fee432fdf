#pragma once
// The controller reached through a tool the integrator names: one tool run per attempt.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bridge/transport/child_reaper.hpp"
#include "bridge/transport/exchange.hpp"
#include "bridge/transport/tool_run.hpp"

namespace bridge {

inline constexpr std::size_t hcitool_output_limit = 64 * 1024;
// Runs per exchange when the tool prints another event than the answer.
inline constexpr int hcitool_runs = 3;

// tool -i <controller> cmd 0x3f 0x0087 <parameter>
std::vector<std::string> hcitool_argv(const std::string& tool, const TransmitPower& command);

// The failure texts, one per way a run can go wrong.
std::string describe_spawn_failure(const std::string& tool, SpawnFailure failure);
std::string describe_failed_run(const std::string& tool, const ProcessResult& result, std::size_t output_limit);

class HcitoolTransport final : public Transport {
 public:
  // With a reaper, whatever a run leaves behind is ended and reaped when the run ends.
  HcitoolTransport(std::string tool, std::optional<ChildReaper> reaper, std::size_t output_limit = hcitool_output_limit)
      : tool_(std::move(tool)), reaper_(std::move(reaper)), output_limit_(output_limit) {}

  // The tool prints the first event that it reads, whatever it is, and leaves before a pending
  // command completes; setting the transmit power twice does no harm, so it is run again, up to
  // hcitool_runs times. The reply is what the answering run printed, then the status line.
  std::expected<std::unique_ptr<Exchange>, std::string> start(const TransmitPower& command, const ExchangeTerms& terms,
                                                              TimePoint now) override;
  std::vector<int> fds() const override;
  void tend() override;

  // For the exchanges: one run of the tool, and the end of it (`unreaped`: killed, and to be
  // reaped once it has ended).
  std::expected<ToolRun, std::string> run(const TransmitPower& command);
  void ended(pid_t run, bool unreaped = false);
  const std::string& tool() const noexcept { return tool_; }
  std::size_t output_limit() const noexcept { return output_limit_; }

 private:
  std::string tool_;
  std::optional<ChildReaper> reaper_;
  std::size_t output_limit_;
  std::set<pid_t> running_;
  std::set<pid_t> unreaped_;
};

}  // namespace bridge
