// The real monitor under a private X server against the simulated UPS records samples; the
// statistics window, opened through the tray menu's item, shows them in today's columns.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/wall_clock.h"
#include "program_harness.h"
#include "stats/stats.h"
#include "stats/stats_index_file.h"
#include "window_child.h"

namespace qelta::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kInputVolts[] = "231.7";

TEST(ProgramStatsTest, TheWindowFromTheTrayMenuShowsTodaysRecordedSamples) {
  VirtualDisplay display;
  ASSERT_TRUE(display.ok()) << "no Xvfb";
  MonitorSandbox sandbox;
  ChildProcess simulator;
  const std::string device =
      StartSimulator(simulator, {"--pace=instant", std::string("--input=") + kInputVolts});
  ASSERT_FALSE(device.empty());
  // No automatic power-off path at all: the battery period below is only recorded.
  sandbox.SeedSettings(device, 1, "\n[Sense]\nBattery=0\nBatteryPercent=0\nBatteryShutdown=0\n");
  // Samples recorded earlier today by another run: mains columns, and one battery column.
  SystemWallClock clock;
  const uint32_t now = TimeStampFromLocalMilliseconds(clock.LocalMillisecondsSinceEpoch());
  const uint32_t day_start = now - now % 86400;
  const int current = static_cast<int>((now - day_start) / 100);
  {
    StatsFile earlier(sandbox.StatsPath());
    for (int j = std::max(0, current - 40); j <= current - 3; ++j) {
      TUPSStatusRaw r;
      r.time = day_start + 100 * static_cast<uint32_t>(j) + 50;
      r.status_using_battery = j == current - 10;
      r.IP_voltage = DecimalToExtended(r.status_using_battery ? "0" : kInputVolts);
      r.OP_voltage = DecimalToExtended("220.0");
      earlier.AppendStatsRecord(r);
    }
  }
  auto records = [&] { return sandbox.ReadStats(); };
  auto battery_records = [&] {
    size_t n = 0;
    for (const TUPSStatusRaw& r : records()) n += r.status_using_battery;
    return n;
  };

  // The monitor records mains, a battery period and mains again.
  ChildProcess monitor;
  ASSERT_TRUE(
      monitor.Start(sandbox.MonitorCommand(), sandbox.Environment(display.name()), sandbox.dir()));
  const size_t seeded = records().size();
  ASSERT_TRUE(WaitFor([&] { return records().size() >= seeded + 3; }, 15s));
  simulator.WriteLine("battery");
  ASSERT_TRUE(WaitFor([&] { return battery_records() >= 2; }, 15s));
  simulator.WriteLine("mains");
  ASSERT_TRUE(WaitFor([&] { return !records().back().status_using_battery; }, 15s));

  // The window's monitor: this program's copy beside the statistics file. It takes over from
  // the first monitor, which ends.
  const std::string copy = sandbox.dir() + "/qelta-monitor.window";
  fs::copy_file("/proc/self/exe", copy);
  ChildProcess window;
  ASSERT_TRUE(window.Start({copy, kWindowChildArgument, kInputVolts},
                           sandbox.Environment(display.name()), sandbox.dir(), true));
  std::vector<std::string> failures;
  bool done = false;
  for (std::string line; !done && !(line = window.ReadLine(90s)).empty();) {
    std::printf("  window: %s\n", line.c_str());
    if (line.starts_with("fail")) failures.push_back(line);
    done = line == "done";
  }
  EXPECT_TRUE(done) << "the window's monitor did not finish";
  EXPECT_TRUE(failures.empty()) << failures.front();
  int code = -1;
  EXPECT_TRUE(window.Wait(20s, &code));
  EXPECT_EQ(code, 0);
  int first_code = -1;
  EXPECT_TRUE(monitor.Wait(20s, &first_code)) << "the first monitor did not end";
  EXPECT_EQ(first_code, 0);
  EXPECT_GE(battery_records(), 2u);
  EXPECT_GE(records().size(), seeded + 10);
}

// Gigabytes of statistics with no usable side file (a FIFO in its place): the window opened
// from the tray reads them while the monitor goes on polling, and nothing but our own files
// is written.
TEST(ProgramStatsTest, AHugeFileWithAFifoForItsSideFileNeitherStopsPollingNorIsWrittenAround) {
  VirtualDisplay display;
  ASSERT_TRUE(display.ok()) << "no Xvfb";
  MonitorSandbox sandbox;
  ChildProcess simulator;
  const std::string device =
      StartSimulator(simulator, {"--pace=instant", std::string("--input=") + kInputVolts});
  ASSERT_FALSE(device.empty());
  sandbox.SeedSettings(device, 1, "\n[Sense]\nBattery=0\nBatteryPercent=0\nBatteryShutdown=0\n");
  // 2 GiB of zero records (a sparse file: no disk is used), then a few of today's.
  constexpr uint64_t kZeroRecords = (uint64_t{2} << 30) / kStatusRawSize;
  const std::string stats = sandbox.StatsPath();
  { std::ofstream create(stats); }
  fs::resize_file(stats, kZeroRecords * kStatusRawSize);
  SystemWallClock clock;
  const uint32_t now = TimeStampFromLocalMilliseconds(clock.LocalMillisecondsSinceEpoch());
  const uint32_t day_start = now - now % 86400;
  const int current = static_cast<int>((now - day_start) / 100);
  {
    StatsFile earlier(stats);
    for (int j = std::max(0, current - 20); j <= current - 3; ++j) {
      TUPSStatusRaw r;
      r.time = day_start + 100 * static_cast<uint32_t>(j) + 50;
      r.IP_voltage = DecimalToExtended(kInputVolts);
      r.OP_voltage = DecimalToExtended("220.0");
      earlier.AppendStatsRecord(r);
    }
  }
  const std::string side = IndexFilePathFor(stats);
  ASSERT_EQ(mkfifo(side.c_str(), 0600), 0);
  const std::string victim = sandbox.dir() + "/not-ours.txt";
  std::ofstream(victim) << "someone else's\n";

  const std::string copy = sandbox.dir() + "/qelta-monitor.window";
  fs::copy_file("/proc/self/exe", copy);
  ChildProcess window;
  ASSERT_TRUE(window.Start(
      {copy, kHugeFileChildArgument, kInputVolts, victim, std::to_string(kZeroRecords)},
      sandbox.Environment(display.name()), sandbox.dir(), true));
  std::vector<std::string> failures;
  bool done = false;
  for (std::string line; !done && !(line = window.ReadLine(300s)).empty();) {
    std::printf("  window: %s\n", line.c_str());
    if (line.starts_with("fail")) failures.push_back(line);
    done = line == "done";
  }
  EXPECT_TRUE(done) << "the window's monitor did not finish";
  EXPECT_TRUE(failures.empty()) << failures.front();
  int code = -1;
  EXPECT_TRUE(window.Wait(20s, &code));
  EXPECT_EQ(code, 0);
  // The file behind the planted link is as it was.
  std::ifstream in(victim);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "someone else's");
  std::error_code ignored;
  fs::remove(stats, ignored);  // the gigabytes go at once, whatever the harness does
}

}  // namespace
}  // namespace qelta::testing
