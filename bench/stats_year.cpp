// A year of 3-second samples in the statistics file: how long reading one day takes, compared
// with reading the whole file plainly, and how much memory the process needs at its peak.
//
// Usage: bench_stats_year [folder]   (default: $TMPDIR or /tmp)

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
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "link/status_records.h"
#include "stats/stats.h"

namespace {

using qelta::kStatusRawSize;

constexpr uint32_t kStep = 3;
constexpr uint64_t kRecords = 365ull * 86400 / kStep;  // 10,512,000
constexpr uint32_t kFirstStamp = 1704067200;           // 2024-01-01 00:00:00
constexpr uint64_t kMinFreeBytes = 3ull << 30;
constexpr size_t kBuildBlockRecords = 32768;  // 3.5 MiB per write
constexpr size_t kPlainReadBytes = size_t{1} << 20;

// Paths for the signal handler, which may only call async-signal-safe functions.
char g_file[4096];
char g_dir[4096];

void RemoveFiles() {
  if (g_file[0]) unlink(g_file);
  if (g_dir[0]) rmdir(g_dir);
}

extern "C" void OnSignal(int sig) {
  RemoveFiles();
  _exit(128 + sig);
}

struct Cleanup {
  ~Cleanup() { RemoveFiles(); }
};

constexpr int kWarmRuns = 5;
constexpr int kColdRuns = 2;

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

bool BuildFile(const char* path) {
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
  const qelta::StatusRawBytes pattern = qelta::EncodeStatusRaw(qelta::StatusToRaw(status, 0));

  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  auto block = std::make_unique<uint8_t[]>(kBuildBlockRecords * kStatusRawSize);
  for (size_t i = 0; i < kBuildBlockRecords; ++i)
    std::memcpy(block.get() + i * kStatusRawSize, pattern.data(), kStatusRawSize);
  bool ok = true;
  for (uint64_t first = 0; ok && first < kRecords; first += kBuildBlockRecords) {
    const size_t count =
        static_cast<size_t>(std::min<uint64_t>(kBuildBlockRecords, kRecords - first));
    for (size_t i = 0; i < count; ++i) {
      const uint32_t t = kFirstStamp + static_cast<uint32_t>((first + i) * kStep);
      uint8_t* record = block.get() + i * kStatusRawSize;
      record[0] = static_cast<uint8_t>(t);
      record[1] = static_cast<uint8_t>(t >> 8);
      record[2] = static_cast<uint8_t>(t >> 16);
      record[3] = static_cast<uint8_t>(t >> 24);
    }
    const uint8_t* data = block.get();
    size_t left = count * kStatusRawSize;
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

void DropCache(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
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

  std::string dir = folder + "/qelta-stats-bench-XXXXXX";
  if (!mkdtemp(dir.data())) {
    std::fprintf(stderr, "cannot create a folder in %s: %s\n", folder.c_str(),
                 std::strerror(errno));
    return 2;
  }
  const std::string file = dir + "/qelta-monitor.stats";
  std::snprintf(g_dir, sizeof g_dir, "%s", dir.c_str());
  std::snprintf(g_file, sizeof g_file, "%s", file.c_str());
  Cleanup cleanup;
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);

  std::printf("file: %s, %llu records of %zu bytes = %.3f GB\n", file.c_str(),
              static_cast<unsigned long long>(kRecords), kStatusRawSize,
              kRecords * kStatusRawSize / 1e9);
  auto start = std::chrono::steady_clock::now();
  if (!BuildFile(file.c_str())) {
    std::fprintf(stderr, "writing the file failed: %s\n", std::strerror(errno));
    return 2;
  }
  std::printf("built in %.2f s; peak memory after building (VmHWM): %ld kB\n", Seconds(start),
              StatusKilobytes("VmHWM"));

  // The day in the middle of the year: 28,800 samples.
  const uint32_t from = kFirstStamp + 182u * 86400u;
  const uint32_t to = from + 86399u;
  qelta::StatsFile stats(file);
  qelta::TUPSStatusRawData records;

  // Cold: the file's pages dropped from the cache before each timed read; best of
  // kColdRuns, the two kinds taking turns.
  double plain_cold = 1e9, range_cold = 1e9;
  for (int run = 0; run < kColdRuns; ++run) {
    DropCache(file.c_str());
    start = std::chrono::steady_clock::now();
    const long long plain_bytes = PlainRead(file.c_str());
    plain_cold = std::min(plain_cold, Seconds(start));
    DropCache(file.c_str());
    start = std::chrono::steady_clock::now();
    stats.ReadStatsRange(from, to, records);
    range_cold = std::min(range_cold, Seconds(start));
    if (plain_bytes != static_cast<long long>(kRecords * kStatusRawSize) ||
        !DayIsRight(records, from, to)) {
      std::fprintf(stderr, "wrong result: plain read %lld bytes, range read %zu records\n",
                   plain_bytes, records.size());
      return 2;
    }
  }

  // Warm: the whole file in the page cache (read once before timing); best of kWarmRuns.
  PlainRead(file.c_str());
  double plain_warm = 1e9, range_warm = 1e9;
  double plain_cpu = 1e9, range_cpu = 1e9;
  for (int run = 0; run < kWarmRuns; ++run) {
    double cpu = CpuSeconds();
    start = std::chrono::steady_clock::now();
    PlainRead(file.c_str());
    plain_warm = std::min(plain_warm, Seconds(start));
    plain_cpu = std::min(plain_cpu, CpuSeconds() - cpu);
    cpu = CpuSeconds();
    start = std::chrono::steady_clock::now();
    stats.ReadStatsRange(from, to, records);
    range_warm = std::min(range_warm, Seconds(start));
    range_cpu = std::min(range_cpu, CpuSeconds() - cpu);
    if (!DayIsRight(records, from, to)) {
      std::fprintf(stderr, "wrong result: %zu records\n", records.size());
      return 2;
    }
  }

  const long peak_kb = StatusKilobytes("VmHWM");
  std::printf("one day read: %zu records\n", records.size());
  std::printf(
      "warm cache (best of %d): ReadStatsRange %.3f s, plain sequential read %.3f s, "
      "ratio %.2f\n",
      kWarmRuns, range_warm, plain_warm, range_warm / plain_warm);
  std::printf(
      "warm cache, processor time (user + system, best of %d): ReadStatsRange %.3f s, plain "
      "sequential read %.3f s, ratio %.2f\n",
      kWarmRuns, range_cpu, plain_cpu, range_cpu / plain_cpu);
  std::printf(
      "cold cache (best of %d): ReadStatsRange %.3f s, plain sequential read %.3f s, "
      "ratio %.2f\n",
      kColdRuns, range_cold, plain_cold, range_cold / plain_cold);
  std::printf("peak memory of the process (VmHWM): %ld kB = %.1f MB\n", peak_kb, peak_kb / 1024.0);

  const bool memory_ok = peak_kb >= 0 && peak_kb < 64 * 1024;
  const bool time_ok = range_warm <= 1.5 * plain_warm;
  std::printf("goal peak memory < 64 MB: %s\n", memory_ok ? "met" : "MISSED");
  std::printf("goal read time <= 1.5 x plain read (warm): %s\n", time_ok ? "met" : "MISSED");
  return memory_ok && time_ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  if (argc > 1) {
    folder = argv[1];
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
