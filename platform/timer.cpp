#include "platform/timer.h"

namespace qelta {

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Apply();
}

void Timer::SetInterval(int milliseconds) {
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  Apply();
}

void Timer::Apply() {
  if (Running()) {
    StartPeriod();
  } else {
    StopPeriod();
  }
}

void Timer::ApplyInitialState() { Apply(); }

void Timer::Fire() {
  if (!Running()) return;
  // Copy: the handler may replace itself or destroy nothing else, but must not pull the
  // callable out from under its own call.
  auto handler = handler_;
  if (handler) handler();
}

}  // namespace qelta
