#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qelta {

// A window timer: fires its handler every Interval() milliseconds while enabled.
// Setting Enabled or Interval to the value it already has changes nothing (a running timer is
// not restarted); changing either restarts the period from that moment; an interval of 0 (or
// below) never fires. A one-shot timer is one whose handler disables it.
class Timer {
 public:
  virtual ~Timer() = default;

  bool Enabled() const { return enabled_; }
  int Interval() const { return interval_; }

  void SetEnabled(bool enabled);
  void SetInterval(int milliseconds);
  void SetHandler(std::function<void()> handler) { handler_ = std::move(handler); }

  // True while the timer would fire: enabled with a positive interval.
  bool Running() const { return enabled_ && interval_ > 0; }

 protected:
  Timer(int interval, bool enabled) : interval_(interval), enabled_(enabled) {}

  // Called by the backend when the period has elapsed.
  void Fire();

  // Backend hooks: (re)start the period with Interval(), or stop.
  virtual void StartPeriod() = 0;
  virtual void StopPeriod() = 0;
  // Backends call this once their object is fully constructed.
  void ApplyInitialState();

 private:
  void Apply();

  int interval_;
  bool enabled_;
  std::function<void()> handler_;
};

// Makes timers and tells the millisecond tick count (a free-running 32-bit counter that wraps).
class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  virtual std::unique_ptr<Timer> CreateTimer(int interval, bool enabled) = 0;
  virtual uint32_t TickCount() = 0;
};

}  // namespace qelta
