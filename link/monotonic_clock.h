#pragma once

#include <chrono>
#include <cstdint>

namespace qelta {

// Milliseconds on a clock that never goes back; the reads of the link measure their time
// bounds on it.
class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual int64_t NowMs() = 0;
};

class SteadyMonotonicClock : public MonotonicClock {
 public:
  int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

// The one steady clock of the process.
inline MonotonicClock& SystemMonotonicClock() {
  static SteadyMonotonicClock clock;
  return clock;
}

// Moves only when told to; for tests, where a fake device advances it by the time it would
// have taken.
class ManualMonotonicClock : public MonotonicClock {
 public:
  explicit ManualMonotonicClock(int64_t start_ms = 0) : now_(start_ms) {}
  int64_t NowMs() override { return now_; }
  void Advance(int64_t ms) { now_ += ms; }
  void AdvanceTo(int64_t ms) {
    if (ms > now_) now_ = ms;
  }

 private:
  int64_t now_;
};

}  // namespace qelta
