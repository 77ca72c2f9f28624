#include "platform/qt_timer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>

namespace qelta {
namespace {

class QtTimer : public Timer {
 public:
  QtTimer(int interval, bool enabled, const QtTimerFactory::HandlerRunner& runner)
      : Timer(interval, enabled) {
    timer_.setTimerType(Qt::PreciseTimer);
    if (runner) {
      QObject::connect(&timer_, &QTimer::timeout, [this, runner] { runner([this] { Fire(); }); });
    } else {
      QObject::connect(&timer_, &QTimer::timeout, [this] { Fire(); });
    }
    ApplyInitialState();
  }

 protected:
  void StartPeriod() override { timer_.start(Interval()); }
  void StopPeriod() override { timer_.stop(); }

 private:
  QTimer timer_;
};

}  // namespace

std::unique_ptr<Timer> QtTimerFactory::CreateTimer(int interval, bool enabled) {
  return std::make_unique<QtTimer>(interval, enabled, runner_);
}

uint32_t QtTimerFactory::TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace qelta
