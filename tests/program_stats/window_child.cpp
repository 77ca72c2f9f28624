#include "window_child.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QTest>
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

}  // namespace qelta::testing
