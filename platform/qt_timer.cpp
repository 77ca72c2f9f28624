#include "platform/qt_timer.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

namespace qelta {
namespace {

int64_t SteadyMs() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

// One single-shot QTimer armed for the next of the timer's moments, so that a parked timer
// keeps its moments without waking anything.
class QtTimer : public Timer {
 public:
  QtTimer(int interval, bool enabled, const QtTimerFactory::HandlerRunner& runner)
      : Timer(interval, enabled) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, [this, runner] {
      // The next moment is armed before the handler runs, so that a handler that fails still
      // leaves the timer going, and one that stops or restarts the timer has the last word.
      last_due_ = due_;
      Arm();
      if (runner) {
        runner([this] { Fire(); });
      } else {
        Fire();
      }
    });
    ApplyInitialState();
  }

 protected:
  void StartPeriod() override {
    origin_ = SteadyMs();
    last_due_ = origin_;
    Arm();
  }
  void StopPeriod() override { timer_.stop(); }
  void ParkingChanged() override { Arm(); }

 private:
  void Arm() {
    if (!Waking()) {
      timer_.stop();
      return;
    }
    const int64_t now = SteadyMs();
    // Never the moment that has just fired again, even when the wake-up came a little early.
    due_ = NextTimerMoment(origin_, Interval(), std::max(now, last_due_));
    timer_.start(static_cast<int>(std::min<int64_t>(due_ - now, INT32_MAX)));
  }

  QTimer timer_;
  int64_t origin_ = 0;
  int64_t due_ = 0;
  int64_t last_due_ = 0;
};

}  // namespace

std::unique_ptr<Timer> QtTimerFactory::CreateTimer(int interval, bool enabled) {
  return std::make_unique<QtTimer>(interval, enabled, runner_);
}

uint32_t QtTimerFactory::TickCount() {
  return static_cast<uint32_t>(SteadyMs());
}

}  // namespace qelta
