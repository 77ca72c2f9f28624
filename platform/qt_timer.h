#pragma once

#include <functional>

#include "platform/timer.h"

namespace qelta {

// Timers on the Qt event loop: handlers run on the thread that owns the loop (the UI thread).
// The tick count is the monotonic clock in milliseconds, kept to its low 32 bits.
class QtTimerFactory : public TimerFactory {
 public:
  // Runs one handler. The program passes its error guard here, so that no failure of a
  // handler crosses the Qt event loop.
  using HandlerRunner = std::function<void(const std::function<void()>&)>;

  QtTimerFactory() = default;
  explicit QtTimerFactory(HandlerRunner runner) : runner_(std::move(runner)) {}

  std::unique_ptr<Timer> CreateTimer(int interval, bool enabled) override;
  uint32_t TickCount() override;

 private:
  HandlerRunner runner_;
};

}  // namespace qelta
