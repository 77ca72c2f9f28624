#include "network/secondary_shutdown.h"

#include "network/protocol_server.h"

namespace qelta {
namespace {

// How often the count of logged-in clients is looked at while waiting.
constexpr int kCheckIntervalMs = 200;

}  // namespace

SecondaryShutdown::SecondaryShutdown(ProtocolServer& server, TimerFactory& timers,
                                     std::function<int()> wait_ms)
    : server_(server), wait_ms_(std::move(wait_ms)) {
  check_timer_ = timers.CreateTimer(kCheckIntervalMs, false);
  limit_timer_ = timers.CreateTimer(1000, false);
  check_timer_->SetHandler([this] { Check(); });
  limit_timer_->SetHandler([this] { Finish(); });
}

int SecondaryShutdown::Left() const {
  return server_.LoginCount();
}

void SecondaryShutdown::ShutDownThen(std::function<void()> done) {
  server_.SetForcedShutdown(true);
  power_off_sent_ = false;
  done_ = std::move(done);
  const int wait = wait_ms_();
  if (Left() == 0 || wait <= 0) {
    Finish();
    return;
  }
  check_timer_->SetEnabled(true);
  limit_timer_->SetInterval(wait);
  limit_timer_->SetEnabled(true);
}

void SecondaryShutdown::Check() {
  if (Left() == 0) Finish();
}

void SecondaryShutdown::Finish() {
  check_timer_->SetEnabled(false);
  limit_timer_->SetEnabled(false);
  // The flag stays: the power-off follows, and a client that comes back must go down again.
  std::function<void()> done = std::move(done_);
  done_ = nullptr;
  if (!done) return;
  power_off_sent_ = true;
  done();
}

bool SecondaryShutdown::Cancel() {
  // Once this computer's power-off was asked for, the others must stay told.
  if (power_off_sent_) return false;
  const bool was_set = server_.ForcedShutdown();
  check_timer_->SetEnabled(false);
  limit_timer_->SetEnabled(false);
  done_ = nullptr;
  server_.SetForcedShutdown(false);
  return was_set;
}

}  // namespace qelta
