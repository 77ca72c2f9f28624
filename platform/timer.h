#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qelta {

// A window timer: fires its handler every Interval() milliseconds while enabled.
// Setting Enabled or Interval to the value it already has changes nothing (a running timer is
// not restarted); changing either restarts the period from that moment; an interval of 0 (or
// below) never fires. A one-shot timer is one whose handler disables it.
//
// A running timer ticks at fixed moments: the moment its period last (re)started plus whole
// intervals. Its owner may park it while the handler could have no effect: a parked timer keeps
// Enabled, Interval and those moments, but does not wake the process, and the ticks that fall
// while it is parked are skipped. Once unparked it fires again at the first of its moments that
// lies after the unparking. So parking changes when the process wakes, never when a handler
// that has something to do runs.
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

  void SetParked(bool parked);
  bool Parked() const { return parked_; }
  // True while the timer wakes the process: running and not parked.
  bool Waking() const { return Running() && !parked_; }

 protected:
  Timer(int interval, bool enabled) : interval_(interval), enabled_(enabled) {}

  // Called by the backend at each of the timer's moments while it is waking.
  void Fire();

  // Backend hooks. StartPeriod: the timer's moments now count from this instant; wake at the
  // first one if Waking(). StopPeriod: the timer stopped; no more wake-ups. ParkingChanged:
  // Waking() changed while the timer runs; stop waking, or wake at the first moment after now.
  virtual void StartPeriod() = 0;
  virtual void StopPeriod() = 0;
  virtual void ParkingChanged() = 0;
  // Backends call this once their object is fully constructed.
  void ApplyInitialState();

 private:
  void Apply();

  int interval_;
  bool enabled_;
  bool parked_ = false;
  std::function<void()> handler_;
};

// The first of a timer's moments (origin + k * interval, k >= 1) that lies after `now`.
int64_t NextTimerMoment(int64_t origin, int interval, int64_t now);

// Makes timers and tells the millisecond tick count (a free-running 32-bit counter that wraps).
class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  virtual std::unique_ptr<Timer> CreateTimer(int interval, bool enabled) = 0;
  virtual uint32_t TickCount() = 0;
};

}  // namespace qelta
