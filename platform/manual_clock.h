#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/timer.h"

namespace qelta {

// A clock that moves only when told to: timers made by it fire inside Advance(), in time
// order, so a minute of timer behaviour is tested in microseconds.
class ManualClock : public TimerFactory {
 public:
  explicit ManualClock(uint32_t start_tick = 0) : tick_(start_tick) {}
  ~ManualClock() override;

  std::unique_ptr<Timer> CreateTimer(int interval, bool enabled) override;
  uint32_t TickCount() override { return static_cast<uint32_t>(tick_); }

  // Moves time forward by `milliseconds`, firing every timer that falls due on the way.
  void Advance(int64_t milliseconds);
  int64_t Now() const { return now_; }

  // When the process would wake next: the earliest moment of a waking timer (on the Now()
  // scale); nullopt while every timer is stopped or parked.
  std::optional<int64_t> NextWake() const;
  // How many times a timer has fired (parked ticks are not counted).
  int64_t Firings() const { return firings_; }

 private:
  class ManualTimer;
  friend class ManualTimer;

  int64_t now_ = 0;
  uint64_t tick_;
  int64_t firings_ = 0;
  std::vector<ManualTimer*> timers_;
};

}  // namespace qelta
