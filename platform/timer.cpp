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

void Timer::SetParked(bool parked) {
  if (parked == parked_) return;
  parked_ = parked;
  if (Running()) ParkingChanged();
}

void Timer::Apply() {
  if (Running()) {
    StartPeriod();
  } else {
    StopPeriod();
  }
}

void Timer::ApplyInitialState() {
  Apply();
}

void Timer::Fire() {
  if (!Waking()) return;
  // Copy: the handler may replace itself or destroy nothing else, but must not pull the
  // callable out from under its own call.
  auto handler = handler_;
  if (handler) handler();
}

int64_t NextTimerMoment(int64_t origin, int interval, int64_t now) {
  if (now < origin) return origin + interval;
  return origin + ((now - origin) / interval + 1) * interval;
}

}  // namespace qelta
