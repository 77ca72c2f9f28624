#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "stats/day_columns.h"

namespace qelta {

class StatsFile;

// Reads one day of the statistics file and reduces it to columns on a worker thread, so that
// a long read (the first read of a large file, with no usable summary) never holds the thread
// that polls the UPS. The records are reduced to the day's seconds as they are read: a load
// holds the per-second arrays and one chunk of the file, whatever the file holds.
class DayLoader {
 public:
  // `finished` is called on the worker thread when a load has ended, however it ended; the
  // owner then calls Finish on its own thread.
  DayLoader(StatsFile& file, std::function<void()> finished);
  // Cancels a load under way and waits for its thread (it stops before the next chunk).
  ~DayLoader();

  DayLoader(const DayLoader&) = delete;
  DayLoader& operator=(const DayLoader&) = delete;

  // Starts loading the day that begins at `day_start`; false (and nothing started) while a
  // load is under way or not yet finished.
  bool Start(uint32_t day_start);
  // True from Start until Finish.
  bool Busy() const { return thread_.joinable(); }
  // After `finished`: waits for the worker's end and gives the day's columns; nothing when
  // no load was started. A file that cannot be read gives empty columns.
  std::optional<DayColumns> Finish();

 private:
  void Run(uint32_t day_start);

  StatsFile& file_;
  std::function<void()> finished_;
  std::thread thread_;
  std::atomic<bool> cancelled_{false};
  DayColumns result_;  // written by the worker before `finished`, read after the join
};

}  // namespace qelta
