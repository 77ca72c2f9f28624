#include "window_child.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "monitor/qwatch_main.h"
#include "stats/graph_painter.h"
#include "stats/hover_readout.h"
#include "stats/qwatch_stats.h"
#include "stats/stats.h"
#include "stats/stats_index_file.h"

namespace qelta::testing {

namespace {

int failures = 0;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Check(bool ok, const std::string& what) {
  if (!ok) ++failures;
  Say((ok ? "ok: " : "fail: ") + what);
}

// The records in the file, straight from its bytes.
TUPSStatusRawData FileRecords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TUPSStatusRawData records;
  for (size_t at = 0; at + kStatusRawSize <= bytes.size(); at += kStatusRawSize) {
    records.push_back(DecodeStatusRaw(reinterpret_cast<const uint8_t*>(bytes.data() + at)));
  }
  return records;
}

// What the records of the day say about each column they fall into: true when one of them
// was on battery.
std::map<int, bool> ExpectedColumns(const TUPSStatusRawData& records, uint32_t day_start) {
  std::map<int, bool> columns;
  for (const TUPSStatusRaw& r : records) {
    if (r.time < day_start || r.time - day_start >= 86400) continue;
    columns[static_cast<int>((r.time - day_start) / 100)] |= r.status_using_battery;
  }
  return columns;
}

bool WaitForRecords(const std::string& path, size_t count, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (FileRecords(path).size() < count) {
    if (timer.elapsed() > timeout_ms) return false;
    QTest::qWait(100);
  }
  return true;
}

// Checks the window's columns against the day's records; returns the number of columns held.
size_t CheckColumns(TStatsForm& window, const TUPSStatusRawData& records, double mains_value,
                    const std::string& when) {
  const uint32_t day_start = DayStartOf(window.Picker->date());
  const std::map<int, bool> expected = ExpectedColumns(records, day_start);
  const DayColumns& columns = window.Columns();
  int wrong_state = 0, wrong_value = 0, not_painted = 0;
  const QImage graph = window.G->grab().toImage();
  const GraphGeometry& g = window.Geometry();
  for (int j = 0; j < kDayColumns; ++j) {
    const auto it = expected.find(j);
    const uint8_t want = it == expected.end() ? kBinEmpty : it->second ? kBinBattery : kBinMains;
    if (columns.BinState[j] != want) ++wrong_state;
    if (want == kBinMains && std::fabs(columns.InputBins[j] - mains_value) > 1e-6) ++wrong_value;
    // Every mains column not followed by a battery column shows its point in the line colour.
    if (want == kBinMains && j < kDayColumns - 1 && columns.BinState[j + 1] != kBinBattery &&
        graph.pixelColor(g.ColumnX(j), g.ValueY(mains_value)) != kInputLineColour) {
      ++not_painted;
    }
  }
  Check(!expected.empty(),
        when + ": today's records fall into " + std::to_string(expected.size()) + " columns");
  Check(wrong_state == 0, when + ": every column's state follows the records (" +
                              std::to_string(wrong_state) + " wrong)");
  Check(wrong_value == 0, when + ": every mains column holds the input voltage (" +
                              std::to_string(wrong_value) + " wrong)");
  Check(not_painted == 0,
        when + ": every mains column is painted (" + std::to_string(not_painted) + " not)");
  return expected.size();
}

QAction* StatsMenuItem(TMainForm& form) {
  for (QAction* action : form.Menu()->actions()) {
    if (action->text() == QStringLiteral("&Статистика...")) return action;
  }
  return nullptr;
}

}  // namespace

int RunWindowChild(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const double mains_value = std::atof(argc > 2 ? argv[2] : "0") - 160;
  const std::string stats_path = DefaultStatsFilePath();
  Check(stats_path.ends_with("/qelta-monitor.stats"), "statistics file " + stats_path);

  TMainForm form({});
  form.CreateInfoForm();
  if (form.TerminationRequested()) {
    Check(false, "the main window entered monitor mode");
    return 1;
  }
  // This process now polls and records too.
  const size_t before = FileRecords(stats_path).size();
  Check(WaitForRecords(stats_path, before + 2, 20000), "this process records samples");

  QAction* item = StatsMenuItem(form);
  if (item == nullptr) {
    Check(false, "the tray menu has the statistics item");
    return 1;
  }
  item->trigger();
  const TUPSStatusRawData at_opening = FileRecords(stats_path);
  TStatsForm* window = form.findChild<TStatsForm*>();
  if (window == nullptr) {
    Check(false, "the statistics window was created by the main window");
    return 1;
  }
  Check(window->isVisible(), "the window is shown");
  Check(QTest::qWaitFor([&] { return !window->Refreshing(); }, 60000), "the day is read");
  Check(QTest::qWaitForWindowExposed(window), "the window is exposed");
  Check(window->Picker->date() == QDate::currentDate(), "the window shows today");
  const size_t opened_columns = CheckColumns(*window, at_opening, mains_value, "at opening");

  // Closed, more samples come in (one of them in a column that was empty), reopened from
  // the tray: the same columns until refreshed.
  QTest::mouseClick(window->CloseButton, Qt::LeftButton);
  QCoreApplication::processEvents();
  Check(!window->isVisible(), "the close button hides the window");
  Check(WaitForRecords(stats_path, at_opening.size() + 3, 20000), "recording goes on");
  int empty = 0;
  while (empty < kDayColumns && window->Columns().BinState[empty] != kBinEmpty) ++empty;
  {
    TUPSStatusRaw late;
    late.time = DayStartOf(window->Picker->date()) + 100 * static_cast<uint32_t>(empty) + 1;
    late.IP_voltage = DecimalToExtended("231.7");
    StatsFile(stats_path).AppendStatsRecord(late);
  }
  item->trigger();
  Check(form.findChildren<TStatsForm*>().size() == 1, "reopening shows the same window");
  Check(window->isVisible(), "reopening shows it again");
  CheckColumns(*window, at_opening, mains_value, "reopened");
  Check(window->Columns().BinState[empty] == kBinEmpty,
        "reopening does not refresh: column " + std::to_string(empty) + " still empty");
  const TUPSStatusRawData before_refresh = FileRecords(stats_path);
  QTest::mouseClick(window->ShowButton, Qt::LeftButton);
  Check(QTest::qWaitFor([&] { return !window->Refreshing(); }, 60000), "the refresh ends");
  const TUPSStatusRawData refreshed = before_refresh;
  const size_t refreshed_columns = CheckColumns(*window, refreshed, mains_value, "refreshed");
  Check(refreshed_columns > opened_columns, "the refresh adds the new column");
  Check(window->Columns().BinState[empty] == kBinMains,
        "the refresh fills column " + std::to_string(empty));
  Say("records " + std::to_string(refreshed.size()));

  form.CloseMenuClick();
  Say("done");
  return failures == 0 ? 0 : 1;
}

namespace {

uint64_t WholeRecords(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) / kStatusRawSize : 0;
}

// The records from `first` to the end of the file's whole records.
TUPSStatusRawData RecordsFrom(const std::string& path, uint64_t first) {
  TUPSStatusRawData records;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return records;
  const uint64_t end = WholeRecords(path);
  uint8_t bytes[kStatusRawSize];
  for (uint64_t k = first; k < end; ++k) {
    if (pread(fd, bytes, kStatusRawSize, static_cast<off_t>(k * kStatusRawSize)) !=
        static_cast<ssize_t>(kStatusRawSize)) {
      break;
    }
    records.push_back(DecodeStatusRaw(bytes));
  }
  close(fd);
  return records;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int RunHugeFileChild(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const double mains_value = std::atof(argc > 2 ? argv[2] : "0") - 160;
  const std::string victim = argc > 3 ? argv[3] : "";
  const std::string victim_text = FileText(victim);
  const std::string stats_path = DefaultStatsFilePath();
  Check(stats_path.ends_with("/qelta-monitor.stats"), "statistics file " + stats_path);
  // The name the side file's temporary file used to have in this process.
  const std::string planted = IndexFilePathFor(stats_path) + ".tmp" + std::to_string(getpid());
  Check(symlink(victim.c_str(), planted.c_str()) == 0, "a link planted at " + planted);

  TMainForm form({});
  form.CreateInfoForm();
  if (form.TerminationRequested()) {
    Check(false, "the main window entered monitor mode");
    return 1;
  }
  // The records the test and this process wrote follow gigabytes of zeros.
  const uint64_t zeros = std::strtoull(argc > 4 ? argv[4] : "0", nullptr, 10);
  const uint64_t seeded = WholeRecords(stats_path);
  Check(zeros > 0 && seeded > zeros, "records follow " + std::to_string(zeros) + " zero records");
  Check(QTest::qWaitFor([&] { return WholeRecords(stats_path) >= seeded + 2; }, 20000),
        "this process records samples");
  QAction* item = StatsMenuItem(form);
  if (item == nullptr) {
    Check(false, "the tray menu has the statistics item");
    return 1;
  }
  const uint64_t at_opening = WholeRecords(stats_path);
  const uint32_t polled_before = form.Core().LastSample().time;
  item->trigger();
  TStatsForm* window = form.findChild<TStatsForm*>();
  if (window == nullptr) {
    Check(false, "the statistics window was created by the main window");
    return 1;
  }
  Check(window->isVisible() && window->Refreshing(),
        "the tray's handler returned with the window shown while the day is read");
  Check(window->cursor().shape() == Qt::BusyCursor, "the window shows a busy cursor");
  // Polling goes on while the file is read.
  uint32_t polled_during = 0;
  QElapsedTimer reading;
  reading.start();
  while (window->Refreshing() && reading.elapsed() < 300000) {
    QTest::qWait(20);
    if (window->Refreshing() && form.Core().LastSample().time > polled_before) {
      polled_during = form.Core().LastSample().time;
    }
  }
  Check(!window->Refreshing(), "the day is read in " + std::to_string(reading.elapsed()) + " ms");
  Check(polled_during != 0, "the monitor polled while the day was read");
  Check(window->cursor().shape() != Qt::BusyCursor, "the busy cursor is gone");
  Check(QTest::qWaitForWindowExposed(window), "the window is exposed");
  // The samples of the polls made meanwhile were written after the read, once each.
  const TUPSStatusRawData appended = RecordsFrom(stats_path, zeros);
  bool in_order = true, reached = false;
  for (size_t i = 1; i < appended.size(); ++i) in_order &= appended[i].time > appended[i - 1].time;
  for (const TUPSStatusRaw& r : appended) reached |= r.time >= polled_during;
  Check(in_order, "the samples follow each other, none twice (" + std::to_string(appended.size()) +
                      " samples)");
  Check(reached, "the sample polled during the read is in the file");
  // The window shows the day as it was when the read began.
  TUPSStatusRawData shown = appended;
  shown.resize(std::min<size_t>(shown.size(), at_opening - zeros));
  CheckColumns(*window, shown, mains_value, "after the read");
  Check(FileText(victim) == victim_text, "the file the link points to is unchanged");
  // Closed while a whole read is under way (no side file again): the monitor ends at once,
  // its statistics window with it.
  struct stat side;
  Check(lstat(IndexFilePathFor(stats_path).c_str(), &side) == 0 && S_ISREG(side.st_mode),
        "the FIFO's place holds a side file of ours");
  Check(unlink(IndexFilePathFor(stats_path).c_str()) == 0, "the side file removed");
  QTest::mouseClick(window->ShowButton, Qt::LeftButton);
  Check(window->Refreshing(), "a whole read is under way when the monitor is closed");
  form.CloseMenuClick();
  Say("done");
  return failures == 0 ? 0 : 1;
}

}  // namespace qelta::testing
