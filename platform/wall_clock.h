#pragma once

#include <cstdint>

namespace qelta {

// The local wall clock: milliseconds from 1970-01-01 00:00:00 to the local date and time now,
// counted as if local time were UTC (no time-zone conversion), so 00:00 local is a multiple of
// 86,400,000.
class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual int64_t LocalMillisecondsSinceEpoch() = 0;
};

class SystemWallClock : public WallClock {
 public:
  int64_t LocalMillisecondsSinceEpoch() override;
};

// Always tells the time it was last given; for tests.
class FixedWallClock : public WallClock {
 public:
  explicit FixedWallClock(int64_t ms = 0) : ms_(ms) {}
  void Set(int64_t ms) { ms_ = ms; }
  int64_t LocalMillisecondsSinceEpoch() override { return ms_; }

 private:
  int64_t ms_;
};

}  // namespace qelta
