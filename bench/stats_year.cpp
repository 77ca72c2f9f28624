// A year of 3-second samples in the statistics file (one hour a day on battery): how long
// reading one day takes next to a plain sequential read of the whole file, with the file's
// pages cached (warm) and dropped (cold); the statistics window's whole refresh (read and
// columns) and one paint of its graph; and the process's peak memory. Then two files that
// are read whole: 2 GiB read by the window for the first time (no side file), with the longest
// stall of the window's thread meanwhile; and 1.1 GB whose records all carry one day, with
// the time and the peak memory of a refresh of that day.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include "link/status_records.h"
#include "stats/day_columns.h"
#include "stats/day_loader.h"
#include "stats/graph_painter.h"
#include "stats/qwatch_stats.h"
#include "stats/stats.h"
#include "stats/stats_index_file.h"

namespace {

using qelta::kStatusRawSize;

constexpr char kUsage[] =
    "Usage: bench_stats_year [--drop-caches] [folder]   (default folder: $TMPDIR or /tmp)\n"
    "  Builds its files (up to 2.2 GB at a time) in a new folder inside `folder` and removes\n"
    "  them at the end. Cold reads drop the file's pages with\n"
    "  posix_fadvise(POSIX_FADV_DONTNEED); with --drop-caches (root only) every cache of the\n"
    "  system is dropped instead (/proc/sys/vm/drop_caches), file metadata included.\n";

constexpr uint32_t kStep = 3;
constexpr uint64_t kRecords = 365ull * 86400 / kStep;  // 10,512,000
constexpr uint32_t kFirstStamp = 1704067200;           // 2024-01-01 00:00:00
constexpr uint64_t kMinFreeBytes = 3ull << 30;
constexpr size_t kBuildBlockRecords = 32768;  // 3.5 MiB per write
constexpr size_t kPlainReadBytes = size_t{1} << 20;

// Paths for the signal handler, which may only call async-signal-safe functions.
char g_file[4096];
char g_side[4096];
char g_dir[4096];

void RemoveFiles() {
  if (g_file[0]) unlink(g_file);
  if (g_side[0]) unlink(g_side);
  if (g_dir[0]) rmdir(g_dir);
}

extern "C" void OnSignal(int sig) {
  RemoveFiles();
  _exit(128 + sig);
}

struct Cleanup {
  ~Cleanup() { RemoveFiles(); }
};

constexpr int kWarmRuns = 7;
constexpr int kColdRuns = 5;
constexpr int kPaints = 300;
// Every day from 15:00 to 16:00 on battery.
constexpr uint32_t kBatteryFrom = 15 * 3600, kBatteryTo = 16 * 3600;

// Every sample of the day, in order.
bool DayIsRight(const qelta::TUPSStatusRawData& records, uint32_t from, uint32_t to) {
  if (records.size() != (to - from + 1) / kStep) return false;
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].time != from + i * kStep) return false;
  return true;
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long StatusKilobytes(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t key_length = std::strlen(key);
  while (std::getline(status, line)) {
    if (line.compare(0, key_length, key) == 0 && line.size() > key_length &&
        line[key_length] == ':') {
      return std::strtol(line.c_str() + key_length + 1, nullptr, 10);
    }
  }
  return -1;
}

// Stamp of record i of the year's file: every kStep seconds from kFirstStamp.
uint32_t YearStamp(uint64_t i) {
  return kFirstStamp + static_cast<uint32_t>(i * kStep);
}

bool BuildFile(const char* path, uint64_t count = kRecords,
               uint32_t (*stamp)(uint64_t) = YearStamp) {
  qelta::TUPSStatus status;
  status.IP_voltage = "229.8";
  status.IP_fault_voltage = "229.8";
  status.OP_voltage = "220.1";
  status.OP_current = "023";
  status.OP_frequency = "50.0";
  status.battery_voltage = "13.60";
  status.temp = "31.0";
  status.status_ups_is_line_interactive = true;
  status.status_beeper = true;
  // Mains samples at 16 input voltages from 222.0 to 237.0, and a battery sample.
  std::vector<qelta::StatusRawBytes> mains;
  for (int v = 0; v < 16; ++v) {
    status.IP_voltage = std::to_string(222 + v) + ".0";
    mains.push_back(qelta::EncodeStatusRaw(qelta::StatusToRaw(status, 0)));
  }
  status.IP_voltage = "000.0";
  status.status_using_battery = true;
  const qelta::StatusRawBytes battery = qelta::EncodeStatusRaw(qelta::StatusToRaw(status, 0));

  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  auto block = std::make_unique<uint8_t[]>(kBuildBlockRecords * kStatusRawSize);
  bool ok = true;
  for (uint64_t first = 0; ok && first < count; first += kBuildBlockRecords) {
    const size_t in_block =
        static_cast<size_t>(std::min<uint64_t>(kBuildBlockRecords, count - first));
    for (size_t i = 0; i < in_block; ++i) {
      const uint32_t t = stamp(first + i);
      uint8_t* record = block.get() + i * kStatusRawSize;
      const uint32_t second = (t - kFirstStamp) % 86400;
      const auto& pattern = second >= kBatteryFrom && second < kBatteryTo
                                ? battery
                                : mains[(second / 1200 + second / 97) % mains.size()];
      std::memcpy(record, pattern.data(), kStatusRawSize);
      record[0] = static_cast<uint8_t>(t);
      record[1] = static_cast<uint8_t>(t >> 8);
      record[2] = static_cast<uint8_t>(t >> 16);
      record[3] = static_cast<uint8_t>(t >> 24);
    }
    const uint8_t* data = block.get();
    size_t left = in_block * kStatusRawSize;
    while (left > 0) {
      ssize_t written = write(fd, data, left);
      if (written <= 0) {
        ok = false;
        break;
      }
      data += written;
      left -= static_cast<size_t>(written);
    }
  }
  // Written back before timing, so that the page cache holds clean pages only.
  if (fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  return ok;
}

// Reads the whole file without looking at it; the number of bytes read, -1 on failure.
long long PlainRead(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  auto buffer = std::make_unique<uint8_t[]>(kPlainReadBytes);
  long long total = 0;
  ssize_t got;
  while ((got = read(fd, buffer.get(), kPlainReadBytes)) > 0) total += got;
  close(fd);
  return got < 0 ? -1 : total;
}

bool g_drop_all_caches = false;

// The file's pages out of the page cache (or every cache, with --drop-caches), then a pause
// so that the work of dropping a gigabyte of pages is not timed with the next read.
void DropCache(const std::string& path) {
  if (g_drop_all_caches) {
    sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
  } else {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fdatasync(fd);  // dirty pages would stay
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
  usleep(300'000);
}

template <typename F>
double TimeOf(F&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return Seconds(start);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Stamps of a file of 2 GiB: the year's stamps, on into the next year.
constexpr uint64_t kBigRecords = (uint64_t{2} << 30) / kStatusRawSize;
// Stamps of a file of 1.1 GB whose records all carry one day: its seconds over and over.
constexpr uint64_t kOneDayRecords = 1'100'000'000 / kStatusRawSize;
constexpr uint32_t kOneDay = kFirstStamp + 100u * 86400u;
uint32_t OneDayStamp(uint64_t i) {
  return kOneDay + static_cast<uint32_t>(i * kStep % 86400);
}

// The window's first read of 2 GiB (no side file, pages dropped), while a sample is appended
// every second as the polling does: the longest time the window's thread was held.
bool FirstReadInTheWindow(const std::string& file, const std::string& side) {
  unlink(file.c_str());
  unlink(side.c_str());
  if (!BuildFile(file.c_str(), kBigRecords)) {
    std::fprintf(stderr, "writing the 2 GiB file failed: %s\n", std::strerror(errno));
    std::exit(2);
  }
  DropCache(file);
  qelta::StatsFile stats(file);
  qelta::TStatsForm form(stats);
  form.show();
  QCoreApplication::processEvents();
  constexpr int kTickMs = 5;
  QElapsedTimer clock;
  clock.start();
  qint64 last_tick = 0, longest_gap = 0, longest_append = 0;
  int appends = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest_gap = std::max(longest_gap, now - last_tick);
    last_tick = now;
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    qelta::TUPSStatusRaw sample;
    sample.time = YearStamp(kBigRecords + static_cast<uint64_t>(appends));
    const qint64 start = clock.nsecsElapsed();
    stats.AppendStatsRecord(sample);
    longest_append = std::max(longest_append, clock.nsecsElapsed() - start);
    ++appends;
  });
  QEventLoop loop;
  QTimer done;
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (!form.Refreshing()) loop.quit();
  });
  const qint64 click_start = clock.nsecsElapsed();
  form.ShowButtonClick();
  const qint64 click = clock.nsecsElapsed() - click_start;
  last_tick = clock.nsecsElapsed();
  longest_gap = click;
  tick.start(kTickMs);
  poll.start(1000);
  done.start(20);
  loop.exec();
  const double read_seconds = clock.nsecsElapsed() / 1e9;
  tick.stop();
  poll.stop();
  const uint64_t records = std::filesystem::file_size(file) / kStatusRawSize;
  if (records != kBigRecords + static_cast<uint64_t>(appends)) {
    std::fprintf(stderr, "appends during the read: %d made, %lld written\n", appends,
                 static_cast<long long>(records - kBigRecords));
    std::exit(2);
  }
  const double stall_ms = std::max<double>(0, longest_gap / 1e6 - kTickMs);
  std::printf(
      "first read of 2 GiB by the window (no side file, cold): %.2f s; the window's thread "
      "held at most %.1f ms (5 ms ticks; the refresh's start %.2f ms, the longest of %d "
      "appends %.2f ms, all written once after the read)\n",
      read_seconds, stall_ms, click / 1e6, appends, longest_append / 1e6);
  return stall_ms < 50;
}

// A refresh of the one day that every record of 1.1 GB carries: its time and the process's
// peak memory while it runs (the peak is reset to the present size before).
bool OneDayFile(const std::string& file, const std::string& side) {
  unlink(file.c_str());
  unlink(side.c_str());
  if (!BuildFile(file.c_str(), kOneDayRecords, OneDayStamp)) {
    std::fprintf(stderr, "writing the one-day file failed: %s\n", std::strerror(errno));
    std::exit(2);
  }
  qelta::StatsFile stats(file);
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before_kb = StatusKilobytes("VmRSS");
  std::promise<void> finished;
  qelta::DayLoader loader(stats, [&] { finished.set_value(); });
  const auto start = std::chrono::steady_clock::now();
  loader.Start(kOneDay);
  finished.get_future().wait();
  const std::optional<qelta::DayColumns> columns = loader.Finish();
  const double seconds = Seconds(start);
  const long peak_kb = StatusKilobytes("VmHWM");
  int mains = 0;
  for (uint8_t state : columns->BinState) mains += state != qelta::kBinEmpty;
  if (mains != qelta::kDayColumns) {
    std::fprintf(stderr, "wrong columns of the one-day file: %d\n", mains);
    std::exit(2);
  }
  std::printf(
      "refresh of one day over 1.1 GB of that day's records (%llu, warm): %.2f s; peak "
      "memory %ld kB = %.1f MB (%.1f MB before the refresh)\n",
      static_cast<unsigned long long>(kOneDayRecords), seconds, peak_kb, peak_kb / 1024.0,
      before_kb / 1024.0);
  return peak_kb < 64 * 1024;
}

int Run(const std::string& folder) {
  struct statvfs fs;
  if (statvfs(folder.c_str(), &fs) != 0) {
    std::fprintf(stderr, "cannot inspect %s: %s\n", folder.c_str(), std::strerror(errno));
    return 2;
  }
  const uint64_t free_bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  if (free_bytes < kMinFreeBytes) {
    std::fprintf(stderr,
                 "refusing to run: %.2f GB free in %s, the benchmark needs at least 3 GB "
                 "(its file is %.2f GB)\n",
                 free_bytes / 1e9, folder.c_str(), kRecords * kStatusRawSize / 1e9);
    return 2;
  }
  if (g_drop_all_caches && access("/proc/sys/vm/drop_caches", W_OK) != 0) {
    std::fprintf(stderr, "--drop-caches needs write access to /proc/sys/vm/drop_caches\n");
    return 2;
  }

  std::string dir = folder + "/qelta-stats-bench-XXXXXX";
  if (!mkdtemp(dir.data())) {
    std::fprintf(stderr, "cannot create a folder in %s: %s\n", folder.c_str(),
                 std::strerror(errno));
    return 2;
  }
  const std::string file = dir + "/qelta-monitor.stats";
  const std::string side = qelta::IndexFilePathFor(file);
  std::snprintf(g_dir, sizeof g_dir, "%s", dir.c_str());
  std::snprintf(g_file, sizeof g_file, "%s", file.c_str());
  std::snprintf(g_side, sizeof g_side, "%s", side.c_str());
  Cleanup cleanup;
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  std::printf("file: %s, %llu records of %zu bytes = %.3f GB\n", file.c_str(),
              static_cast<unsigned long long>(kRecords), kStatusRawSize,
              kRecords * kStatusRawSize / 1e9);
  std::printf("cold reads: %s\n", g_drop_all_caches
                                      ? "every cache dropped (/proc/sys/vm/drop_caches)"
                                      : "the files' pages dropped (POSIX_FADV_DONTNEED)");
  double built = TimeOf([&] {
    if (!BuildFile(file.c_str())) {
      std::fprintf(stderr, "writing the file failed: %s\n", std::strerror(errno));
      std::exit(2);
    }
  });
  std::printf("built in %.2f s; peak memory after building (VmHWM): %ld kB\n", built,
              StatusKilobytes("VmHWM"));

  // The day in the middle of the year: 28,800 samples.
  const uint32_t from = kFirstStamp + 182u * 86400u;
  const uint32_t to = from + 86399u;
  qelta::TUPSStatusRawData records;
  auto check = [&](const char* what) {
    if (!DayIsRight(records, from, to)) {
      std::fprintf(stderr, "wrong result of %s: %zu records\n", what, records.size());
      std::exit(2);
    }
  };

  // The first read ever: no side file yet, so the whole file is read and summarised.
  DropCache(file);
  double first_read = TimeOf([&] {
    qelta::StatsFile stats(file);
    stats.ReadStatsRange(from, to, records);
  });
  check("the first read");
  std::printf(
      "first read of a day, no summary yet (reads and summarises the whole file, "
      "cold): %.3f s; side file %lld bytes\n",
      first_read, static_cast<long long>(std::ifstream(side, std::ios::ate).tellg()));

  // Cold: the pages dropped before each timed read; best of kColdRuns, the kinds taking
  // turns. "Started anew" is a new StatsFile, as after a start of the program: the summary
  // comes from the side file, itself read cold.
  qelta::StatsFile kept(file);
  kept.ReadStatsRange(from, to, records);
  std::vector<double> plain_cold, day_cold_new, day_cold_kept, refresh_cold;
  uint64_t day_records_read = 0;
  qelta::DayColumns columns;
  for (int run = 0; run < kColdRuns; ++run) {
    DropCache(file);
    long long plain_bytes = 0;
    plain_cold.push_back(TimeOf([&] { plain_bytes = PlainRead(file.c_str()); }));
    if (plain_bytes != static_cast<long long>(kRecords * kStatusRawSize)) {
      std::fprintf(stderr, "plain read: %lld bytes\n", plain_bytes);
      return 2;
    }
    DropCache(file);
    DropCache(side);
    day_cold_new.push_back(TimeOf([&] {
      qelta::StatsFile stats(file);
      stats.ReadStatsRange(from, to, records);
      day_records_read = stats.last_read().records_read;
      if (!stats.last_read_loaded_side_file()) records.clear();
    }));
    check("a cold read started anew");
    DropCache(file);
    day_cold_kept.push_back(TimeOf([&] { kept.ReadStatsRange(from, to, records); }));
    check("a cold read with the summary in memory");
    DropCache(file);
    refresh_cold.push_back(TimeOf([&] {
      qelta::TUPSStatusRawData day;
      kept.ReadStatsRange(from, to, day);
      qelta::ReduceDay(day, from, columns);
    }));
  }

  // Warm: the whole file in the page cache (read once before timing); best of kWarmRuns.
  PlainRead(file.c_str());
  double plain_warm = 1e9, day_warm_new = 1e9, day_warm_kept = 1e9, refresh_warm = 1e9;
  double plain_cpu = 1e9, day_cpu = 1e9;
  for (int run = 0; run < kWarmRuns; ++run) {
    double cpu = CpuSeconds();
    plain_warm = std::min(plain_warm, TimeOf([&] { PlainRead(file.c_str()); }));
    plain_cpu = std::min(plain_cpu, CpuSeconds() - cpu);
    cpu = CpuSeconds();
    day_warm_kept =
        std::min(day_warm_kept, TimeOf([&] { kept.ReadStatsRange(from, to, records); }));
    day_cpu = std::min(day_cpu, CpuSeconds() - cpu);
    check("a warm read");
    day_warm_new = std::min(day_warm_new, TimeOf([&] {
                              qelta::StatsFile stats(file);
                              stats.ReadStatsRange(from, to, records);
                            }));
    check("a warm read started anew");
    // What the window's refresh does: the read, then the columns.
    refresh_warm = std::min(refresh_warm, TimeOf([&] {
                              qelta::TUPSStatusRawData day;
                              kept.ReadStatsRange(from, to, day);
                              qelta::ReduceDay(day, from, columns);
                            }));
  }
  int battery_columns = 0;
  for (uint8_t state : columns.BinState) battery_columns += state == qelta::kBinBattery;
  if (battery_columns != 36) {
    std::fprintf(stderr, "wrong columns: %d battery columns\n", battery_columns);
    return 2;
  }

  // One paint of the graph at the window's initial size, the input series.
  QImage image(906, 159, QImage::Format_RGB32);
  qelta::GraphStyle style;
  style.font = qelta::GraphFont();
  std::vector<double> paints;
  for (int i = 0; i < kPaints; ++i) {
    paints.push_back(TimeOf([&] {
      QPainter painter(&image);
      qelta::PaintStatsGraph(painter, image.size(), columns, i % 2, style);
    }));
  }
  const double paint_best = *std::min_element(paints.begin(), paints.end());
  const double paint_median = Median(paints);
  const double paint_worst = *std::max_element(paints.begin(), paints.end());

  const long peak_kb = StatusKilobytes("VmHWM");
  auto share = [](double part, double whole) { return 100.0 * part / whole; };
  std::printf("one day: %zu records; %llu records read for it (besides 2 x %zu probed)\n",
              records.size(), static_cast<unsigned long long>(day_records_read),
              qelta::StatsFile::kDefaultProbedBlocks);
  auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
  std::printf("cold (best and median of %d): full sequential read %.4f s, %.4f s\n", kColdRuns,
              best(plain_cold), Median(plain_cold));
  std::printf(
      "  day read, program started anew (side file): %.4f s = %.2f %%, median %.4f s = "
      "%.2f %% of the full read\n",
      best(day_cold_new), share(best(day_cold_new), best(plain_cold)), Median(day_cold_new),
      share(Median(day_cold_new), Median(plain_cold)));
  std::printf(
      "  day read, summary in memory:                %.4f s = %.2f %%, median %.4f s = "
      "%.2f %% of the full read\n",
      best(day_cold_kept), share(best(day_cold_kept), best(plain_cold)), Median(day_cold_kept),
      share(Median(day_cold_kept), Median(plain_cold)));
  std::printf("  refresh (day read + columns), summary in memory: %.4f s, median %.4f s\n",
              best(refresh_cold), Median(refresh_cold));
  std::printf("warm (best of %d): full sequential read %.4f s (processor %.4f s)\n", kWarmRuns,
              plain_warm, plain_cpu);
  std::printf("  day read, program started anew (side file): %.4f s = %.2f %% of the full read\n",
              day_warm_new, share(day_warm_new, plain_warm));
  std::printf(
      "  day read, summary in memory:                %.4f s = %.2f %% of the full read "
      "(processor %.4f s)\n",
      day_warm_kept, share(day_warm_kept, plain_warm), day_cpu);
  std::printf("  refresh (day read + columns), summary in memory: %.4f s\n", refresh_warm);
  std::printf(
      "paint of the graph, 906 x 159, %d paints: best %.3f ms, median %.3f ms, worst "
      "%.3f ms\n",
      kPaints, paint_best * 1e3, paint_median * 1e3, paint_worst * 1e3);
  std::printf("peak memory of the process (VmHWM): %ld kB = %.1f MB\n", peak_kb, peak_kb / 1024.0);

  const bool stall_ok = FirstReadInTheWindow(file, side);
  const bool day_memory_ok = OneDayFile(file, side);

  const double worst_cold = std::max(best(day_cold_new), best(day_cold_kept));
  const double worst_warm = std::max(day_warm_new, day_warm_kept);
  const bool cold_ok = worst_cold <= 0.02 * best(plain_cold);
  const bool warm_ok = worst_warm <= 0.02 * plain_warm;
  const bool paint_ok = paint_median < 0.002;
  const bool memory_ok = peak_kb >= 0 && peak_kb < 64 * 1024;
  std::printf("goal day read <= 2 %% of the full read, cold: %s\n", cold_ok ? "met" : "MISSED");
  std::printf("goal day read <= 2 %% of the full read, warm: %s\n", warm_ok ? "met" : "MISSED");
  std::printf("goal paint under 2 ms (median): %s\n", paint_ok ? "met" : "MISSED");
  std::printf("goal peak memory < 64 MB: %s\n", memory_ok ? "met" : "MISSED");
  std::printf("goal the window's thread held < 50 ms during the first read of 2 GiB: %s\n",
              stall_ok ? "met" : "MISSED");
  std::printf("goal peak memory < 64 MB for a refresh over 1.1 GB of one day's records: %s\n",
              day_memory_ok ? "met" : "MISSED");
  return cold_ok && warm_ok && paint_ok && memory_ok && stall_ok && day_memory_ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The graph is painted into an image: no display needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string folder;
  int arg = 1;
  if (arg < argc && (std::strcmp(argv[arg], "--help") == 0 || std::strcmp(argv[arg], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (arg < argc && std::strcmp(argv[arg], "--drop-caches") == 0) {
    g_drop_all_caches = true;
    ++arg;
  }
  if (arg < argc && argv[arg][0] == '-') {
    std::fprintf(stderr, "unknown option %s\n%s", argv[arg], kUsage);
    return 2;
  }
  if (arg < argc) {
    folder = argv[arg];
  } else {
    const char* tmp = std::getenv("TMPDIR");
    folder = tmp && *tmp ? tmp : "/tmp";
  }
  try {
    return Run(folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    RemoveFiles();
    return 2;
  }
}
