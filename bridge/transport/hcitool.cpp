#include "bridge/transport/hcitool.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "bridge/concat.hpp"
#include "bridge/transport/hci_event.hpp"
#include "bridge/transport/printed_event.hpp"
#include "text/utf8.hpp"

namespace bridge {
namespace {

using std::chrono::milliseconds;

// Between runs refused because the controller is reported down: short at first, as the
// kernel's setup of a new controller takes about two seconds, never a busy loop.
constexpr milliseconds first_backoff{100};
constexpr milliseconds longest_backoff{1000};
// Without a process descriptor a run's end is only seen by asking this often.
constexpr milliseconds ask_interval{20};

// What it printed, quoted after a colon: its last line feed would end the message with a blank.
std::string printed(const ProcessResult& result) {
  std::string text = result.output + result.errors;
  while (text.ends_with('\n')) text.pop_back();
  return text::to_bus_text(text);
}

std::string with_final_line_feed(std::string text) {
  if (!text.empty() && !text.ends_with('\n')) text += '\n';
  return text;
}

bool reports_down(const ProcessResult& result) {
  return result.end == ProcessResult::End::exited && result.code != 0 &&
         (result.output + result.errors).find("Network is down") != std::string::npos;
}

class HcitoolExchange final : public Exchange {
 public:
  HcitoolExchange(HcitoolTransport& transport, TransmitPower command, const ExchangeTerms& terms, ToolRun run,
                  TimePoint now)
      : transport_(transport), command_(std::move(command)), terms_(terms), run_(std::move(run)), stepped_(now) {}

  ~HcitoolExchange() override { end_run(); }

  std::vector<int> fds() const override { return run_ ? run_->fds() : std::vector<int>{}; }

  std::optional<TimePoint> wake_time() const override {
    if (!run_) return retry_at_;
    if (run_->needs_polling()) return stepped_ + ask_interval;
    return std::nullopt;
  }

  std::optional<ExchangeResult> step(TimePoint now) override {
    stepped_ = now;
    if (!run_) {
      if (!retry_at_ || now < *retry_at_ || now >= terms_.deadline) return std::nullopt;
      retry_at_.reset();
      return start_run();
    }
    const pid_t pid = run_->pid();
    auto result = run_->step();
    if (!result) return std::nullopt;
    run_.reset();
    transport_.ended(pid);
    return judge(*result, now);
  }

  std::string give_up() override {
    if (end_run())
      return text::to_bus_text(
          concat(transport_.tool(), " did not finish within ", terms_.limit.count(), " ms and was killed"));
    return last_failure_;
  }

 private:
  // True when a run was still going.
  bool end_run() {
    if (!run_) return false;
    const pid_t pid = run_->pid();
    const auto unreaped = run_->kill();
    run_.reset();
    transport_.ended(pid, unreaped.has_value());
    return true;
  }

  std::optional<ExchangeResult> start_run() {
    auto run = transport_.run(command_);
    if (!run) return std::unexpected(std::move(run.error()));
    run_.emplace(std::move(*run));
    return std::nullopt;
  }

  std::optional<ExchangeResult> judge(const ProcessResult& result, TimePoint now) {
    const std::string& tool = transport_.tool();
    // Cut output cannot be trusted to hold the whole event, so it is never passed on as success.
    if (result.end != ProcessResult::End::exited || result.code != 0 || result.truncated) {
      last_failure_ = describe_failed_run(tool, result, transport_.output_limit());
      if (!terms_.retry_while_down || !reports_down(result) || now + backoff_ >= terms_.deadline)
        return std::unexpected(last_failure_);
      retry_at_ = now + backoff_;
      backoff_ = std::min(backoff_ * 2, longest_backoff);
      return std::nullopt;
    }
    output_ = text::to_bus_text(result.output);
    const auto unreadable = [&](std::string_view why) {
      return std::unexpected(concat(tool, " printed ", why, ": ", output_));
    };
    auto event = read_printed_event(result.output);
    if (!event) return unreadable(event.error());
    auto meaning = interpret(*event, transmit_power_opcode);
    if (!meaning) return unreadable(meaning.error());
    if (meaning->kind == EventMeaning::Kind::answered)
      return HciAnswer{with_final_line_feed(output_) + status_line(meaning->status), meaning->status, std::nullopt};
    ++unanswered_;
    last_failure_ = concat(tool, " printed no answer to command ", group_text, ' ', command_text, " in ", unanswered_,
                           unanswered_ == 1 ? " run" : " runs", ": ", output_);
    if (unanswered_ >= hcitool_runs || now >= terms_.deadline) return std::unexpected(last_failure_);
    return start_run();
  }

  HcitoolTransport& transport_;
  TransmitPower command_;
  ExchangeTerms terms_;
  std::optional<ToolRun> run_;
  TimePoint stepped_;
  std::optional<TimePoint> retry_at_;
  milliseconds backoff_ = first_backoff;
  int unanswered_ = 0;  // runs that printed another event than the answer
  std::string output_;
  std::string last_failure_;
};

}  // namespace

std::vector<std::string> hcitool_argv(const std::string& tool, const TransmitPower& command) {
  return {tool,
          "-i",
          command.controller,
          "cmd",
          std::string(group_text),
          std::string(command_text),
          parameter_text(command)};
}

std::string describe_spawn_failure(const std::string& tool, SpawnFailure failure) {
  return text::to_bus_text(concat("Cannot start ", tool, ": ", std::strerror(failure.error)));
}

std::string describe_failed_run(const std::string& tool, const ProcessResult& result, std::size_t output_limit) {
  std::string text;
  switch (result.end) {
    case ProcessResult::End::signalled:
      text =
          concat(tool, " was killed by signal ", result.code, " (", ::strsignal(result.code), "): ", printed(result));
      break;
    case ProcessResult::End::exited:
      if (result.code == 0 && result.truncated) text = concat(tool, " printed more than ", output_limit, " bytes");
      else text = concat(tool, " exited with status ", result.code, ": ", printed(result));
      break;
  }
  return text::to_bus_text(text);
}

std::expected<std::unique_ptr<Exchange>, std::string> HcitoolTransport::start(const TransmitPower& command,
                                                                              const ExchangeTerms& terms,
                                                                              TimePoint now) {
  auto first = run(command);
  if (!first) return std::unexpected(std::move(first.error()));
  return std::make_unique<HcitoolExchange>(*this, command, terms, std::move(*first), now);
}

std::expected<ToolRun, std::string> HcitoolTransport::run(const TransmitPower& command) {
  auto run = ToolRun::start(hcitool_argv(tool_, command), output_limit_);
  if (!run) return std::unexpected(describe_spawn_failure(tool_, run.error()));
  running_.insert(run->pid());
  return std::move(*run);
}

void HcitoolTransport::ended(pid_t run, bool unreaped) {
  running_.erase(run);
  if (unreaped) unreaped_.insert(run);
  if (reaper_) reaper_->end_all_but(running_);
}

std::vector<int> HcitoolTransport::fds() const {
  if (!reaper_) return {};
  return {reaper_->fd()};
}

void HcitoolTransport::tend() {
  if (reaper_ && reaper_->announced()) reaper_->end_all_but(running_);
  // Killed runs that had not ended yet; the loop steps at least once a second.
  std::erase_if(unreaped_, [](pid_t run) {
    int status = 0;
    pid_t reaped;
    do {
      reaped = ::waitpid(run, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    return reaped != 0;  // reaped now, or by the child reaper already
  });
}

}  // namespace bridge
