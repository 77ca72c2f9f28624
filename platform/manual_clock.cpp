#include "platform/manual_clock.h"

#include <algorithm>
#include <limits>

namespace qelta {

class ManualClock::ManualTimer : public Timer {
 public:
  ManualTimer(ManualClock* clock, int interval, bool enabled)
      : Timer(interval, enabled), clock_(clock) {
    clock_->timers_.push_back(this);
    ApplyInitialState();
  }
  ~ManualTimer() override {
    if (clock_ == nullptr) return;
    auto& timers = clock_->timers_;
    timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
  }

  void Detach() { clock_ = nullptr; }
  bool Due() const { return due_; }
  int64_t DueAt() const { return due_at_; }
  void FireNow() {
    // A periodic timer's next moment is one interval after this one.
    due_at_ += Interval();
    if (clock_ != nullptr) ++clock_->firings_;
    Fire();
  }

 protected:
  void StartPeriod() override {
    origin_ = Now();
    due_at_ = origin_ + Interval();
    due_ = Waking();
  }
  void StopPeriod() override { due_ = false; }
  void ParkingChanged() override {
    due_ = Waking();
    if (due_) due_at_ = NextTimerMoment(origin_, Interval(), Now());
  }

 private:
  int64_t Now() const { return clock_ != nullptr ? clock_->now_ : 0; }

  ManualClock* clock_;
  bool due_ = false;
  int64_t origin_ = 0;
  int64_t due_at_ = 0;
};

ManualClock::~ManualClock() {
  for (ManualTimer* t : timers_) t->Detach();
}

std::unique_ptr<Timer> ManualClock::CreateTimer(int interval, bool enabled) {
  return std::make_unique<ManualTimer>(this, interval, enabled);
}

std::optional<int64_t> ManualClock::NextWake() const {
  std::optional<int64_t> next;
  for (const ManualTimer* t : timers_) {
    if (t->Due() && (!next || t->DueAt() < *next)) next = t->DueAt();
  }
  return next;
}

void ManualClock::Advance(int64_t milliseconds) {
  const int64_t end = now_ + milliseconds;
  for (;;) {
    ManualTimer* next = nullptr;
    int64_t next_at = std::numeric_limits<int64_t>::max();
    for (ManualTimer* t : timers_) {
      if (t->Due() && t->DueAt() <= end && t->DueAt() < next_at) {
        next = t;
        next_at = t->DueAt();
      }
    }
    if (next == nullptr) break;
    tick_ += static_cast<uint64_t>(next_at - now_);
    now_ = next_at;
    next->FireNow();
  }
  tick_ += static_cast<uint64_t>(end - now_);
  now_ = end;
}

}  // namespace qelta
