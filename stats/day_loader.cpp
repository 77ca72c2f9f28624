#include "stats/day_loader.h"

#include <new>
#include <utility>

#include "stats/range_read.h"
#include "stats/stats.h"

namespace qelta {

namespace {

// Reduces each record of the day to its second as it is read.
class DaySecondsSink : public RecordSink {
 public:
  DaySecondsSink(DaySeconds& seconds, const std::atomic<bool>& cancelled)
      : seconds_(seconds), cancelled_(cancelled) {}
  void Take(const uint8_t* record) override { seconds_.Add(DecodeStatusRaw(record)); }
  void Restart() override { seconds_.Clear(); }
  bool Cancelled() const override { return cancelled_.load(std::memory_order_relaxed); }

 private:
  DaySeconds& seconds_;
  const std::atomic<bool>& cancelled_;
};

}  // namespace

DayLoader::DayLoader(StatsFile& file, std::function<void()> finished)
    : file_(file), finished_(std::move(finished)) {}

DayLoader::~DayLoader() {
  cancelled_ = true;
  if (thread_.joinable()) thread_.join();
}

bool DayLoader::Start(uint32_t day_start) {
  if (thread_.joinable()) return false;
  cancelled_ = false;
  thread_ = std::thread([this, day_start] { Run(day_start); });
  return true;
}

std::optional<DayColumns> DayLoader::Finish() {
  if (!thread_.joinable()) return std::nullopt;
  thread_.join();
  return result_;
}

void DayLoader::Run(uint32_t day_start) {
  try {
    DaySeconds seconds(day_start);
    DaySecondsSink sink(seconds, cancelled_);
    file_.ReadStatsRange(day_start, day_start + (kDaySeconds - 1), sink);
    // A read stopped by an error shows what it found before the error, as a read of the
    // whole file stopping there would.
    ReduceSeconds(seconds, result_);
  } catch (const std::bad_alloc&) {
    // Without memory for the day's seconds the day shows empty, like an unreadable file.
    result_ = DayColumns{};
  }
  finished_();
}

}  // namespace qelta
