#include "platform/wall_clock.h"

#include <sys/time.h>
#include <time.h>

namespace qelta {

int64_t SystemWallClock::LocalMillisecondsSinceEpoch() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  // tm_gmtoff is the offset of local time from UTC, daylight saving included.
  const int64_t local_seconds = static_cast<int64_t>(now.tv_sec) + local.tm_gmtoff;
  return local_seconds * 1000 + now.tv_nsec / 1000000;
}

}  // namespace qelta
