#pragma once

#include "platform/timer.h"

namespace qelta {

// Timers on the Qt event loop: handlers run on the thread that owns the loop (the UI thread).
// The tick count is the monotonic clock in milliseconds, kept to its low 32 bits.
class QtTimerFactory : public TimerFactory {
 public:
  std::unique_ptr<Timer> CreateTimer(int interval, bool enabled) override;
  uint32_t TickCount() override;
};

}  // namespace qelta
