// The statistics window, offscreen, over a statistics file of its own.
#include <gtest/gtest.h>

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

#include "stats/graph_painter.h"
#include "stats/hover_readout.h"
#include "stats/qwatch_stats.h"
#include "stats/stats.h"
#include "test_app.h"

namespace qelta {
namespace {

const QString kCaption = QStringLiteral("QELTA MONITOR: Статистика");

class StatsFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_TRUE(dir.isValid());
    file = std::make_unique<StatsFile>((dir.path() + "/qelta-monitor.stats").toStdString());
  }

  // A sample on `date` at `second` of the day.
  void Record(const QDate& date, uint32_t second, const char* input, const char* output,
              bool battery = false) {
    TUPSStatusRaw r;
    r.time = DayStartOf(date) + second;
    r.IP_voltage = DecimalToExtended(input);
    r.OP_voltage = DecimalToExtended(output);
    r.status_using_battery = battery;
    file->AppendStatsRecord(r);
  }

  // Waits until the refresh under way has shown its columns.
  static bool Settled(TStatsForm& form) {
    return QTest::qWaitFor([&] { return !form.Refreshing(); }, 60000);
  }

  // The colour of the graph at column j, at the level of `value`, as painted now.
  QColor ColumnColour(TStatsForm& form, int j, double value) {
    const QImage image = form.G->grab().toImage();
    const GraphGeometry& g = form.Geometry();
    return image.pixelColor(g.ColumnX(j), g.ValueY(value));
  }

  QTemporaryDir dir;
  std::unique_ptr<StatsFile> file;
  const QDate today = QDate::currentDate();
};

TEST_F(StatsFormTest, LaidOutAsDesignedAndAnchoredOnResize) {
  TStatsForm form(*file);
  EXPECT_EQ(form.windowTitle(), kCaption);
  EXPECT_EQ(form.SavedCaptionText(), kCaption);
  EXPECT_EQ(form.size(), QSize(922, 199));
  EXPECT_EQ(form.minimumSize(), QSize(922, 199));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(form.Label1->text(), QStringLiteral("Показать статистику за:"));
  EXPECT_EQ(form.ShowButton->text(), QStringLiteral("&Обновить"));
  EXPECT_EQ(form.CloseButton->text(), QStringLiteral("&Закрыть"));
  ASSERT_EQ(form.Mode->count(), 2);
  EXPECT_EQ(form.Mode->itemText(0), QStringLiteral("График напряжения в электросети"));
  EXPECT_EQ(form.Mode->itemText(1), QStringLiteral("График напряжения на выходе UPS"));
  EXPECT_EQ(form.Mode->currentIndex(), 0);
  EXPECT_FALSE(form.Mode->isEditable());
  EXPECT_EQ(form.Picker->date(), today);
  EXPECT_TRUE(form.Picker->calendarPopup());

  EXPECT_EQ(form.Label1->geometry(), QRect(8, 9, 126, 13));
  EXPECT_EQ(form.Picker->geometry(), QRect(139, 5, 129, 21));
  EXPECT_EQ(form.Mode->geometry(), QRect(272, 5, 497, 21));
  EXPECT_EQ(form.ShowButton->geometry(), QRect(776, 5, 75, 21));
  EXPECT_EQ(form.CloseButton->geometry(), QRect(856, 5, 60, 21));
  EXPECT_EQ(form.PaintPanel->geometry(), QRect(8, 32, 908, 161));
  EXPECT_EQ(form.G->geometry(), QRect(1, 1, 906, 159));
  EXPECT_EQ(form.PaintPanel->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(form.PaintPanel->lineWidth(), 1);

  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.resize(1100, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.Label1->geometry(), QRect(8, 9, 126, 13));
  EXPECT_EQ(form.Picker->geometry(), QRect(139, 5, 129, 21));
  EXPECT_EQ(form.Mode->geometry(), QRect(272, 5, 675, 21));
  EXPECT_EQ(form.ShowButton->geometry(), QRect(954, 5, 75, 21));
  EXPECT_EQ(form.CloseButton->geometry(), QRect(1034, 5, 60, 21));
  EXPECT_EQ(form.PaintPanel->geometry(), QRect(8, 32, 1086, 262));
  EXPECT_EQ(form.G->geometry(), QRect(1, 1, 1084, 260));
  // The graph follows: centred, its height from the box.
  form.G->grab();
  EXPECT_EQ(form.Geometry().PlotLeft, 542 - 427);
  EXPECT_EQ(form.Geometry().PlotHeight, 240);

  form.resize(500, 100);
  EXPECT_EQ(form.size(), QSize(922, 199));
}

TEST_F(StatsFormTest, FitsAScreenNarrowerThanTheDesignAndSpeaksRussianInThePicker) {
  TStatsForm form(*file);
  EXPECT_EQ(form.minimumSize(), QSize(922, 199));  // the 1920-px desktop has room
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  // A 1366 x 768 screen at the scale factor 1.5 (QT_SCALE_FACTOR=1.5) less a panel: about
  // 910 x 485 logical pixels. The window fits inside, and the user can make it that small.
  const QRect small(0, 0, 910, 485);
  form.FitToScreen(small);
  QCoreApplication::processEvents();
  EXPECT_TRUE(small.contains(form.frameGeometry())) << form.frameGeometry().width();
  const QSize frame = form.frameGeometry().size() - form.size();
  EXPECT_LE(form.minimumWidth() + frame.width(), 910);
  EXPECT_EQ(form.minimumHeight(), 199);
  form.resize(500, 100);
  EXPECT_EQ(form.size(), form.minimumSize());
  // The graph's controls follow the narrower area: the close button stays in the window, and
  // the graph keeps its voltage labels whole ("260V", not "60V").
  EXPECT_LE(form.CloseButton->geometry().right(), form.width());
  form.G->grab();
  EXPECT_GE(form.Geometry().PlotLeft,
            QFontMetrics(GraphFont()).horizontalAdvance(QStringLiteral("260V")) + 2);

  // The picker's calendar names months and days in Russian under any locale.
  EXPECT_EQ(form.Picker->locale().language(), QLocale::Russian);
  EXPECT_EQ(form.Picker->calendarWidget()->locale().monthName(1), QStringLiteral("января"));
  EXPECT_TRUE(form.Picker->text().contains(form.Picker->locale().monthName(today.month())))
      << form.Picker->text().toStdString();
}

TEST_F(StatsFormTest, RefreshReadsThePickedDayAndSwitchingTheSeriesOnlyRepaints) {
  Record(today, 43200, "230", "220");
  Record(today, 46800, "190", "220", true);
  TStatsForm form(*file);
  // Nothing is read before the first refresh.
  EXPECT_EQ(form.Columns().BinState[432], kBinEmpty);
  form.ShowButtonClick();
  ASSERT_TRUE(Settled(form));
  EXPECT_EQ(form.Columns().BinState[432], kBinMains);
  EXPECT_EQ(form.Columns().InputBins[432], 70);
  EXPECT_EQ(form.Columns().BinState[468], kBinBattery);
  EXPECT_EQ(ColumnColour(form, 432, 70), kInputLineColour);

  // A sample recorded after the refresh shows only after the next one: the series switch
  // neither reads the file nor recomputes the columns.
  Record(today, 50400, "240", "230");
  Record(today, 43210, "250", "250");
  form.Mode->setCurrentIndex(1);
  EXPECT_EQ(form.Columns().BinState[504], kBinEmpty);
  EXPECT_EQ(form.Columns().InputBins[432], 70);
  EXPECT_EQ(ColumnColour(form, 432, 60), kOutputLineColour);
  EXPECT_EQ(ColumnColour(form, 432, 70), QColor(Qt::white));
  form.Mode->setCurrentIndex(0);
  EXPECT_EQ(ColumnColour(form, 432, 70), kInputLineColour);

  QTest::mouseClick(form.ShowButton, Qt::LeftButton);
  ASSERT_TRUE(Settled(form));
  EXPECT_EQ(form.Columns().BinState[504], kBinMains);
  EXPECT_EQ(form.Columns().InputBins[432], 80);  // (70 + 90) / 2
}

// Dark pixels (text) in the graph's top left corner, where the loading line goes.
int TextPixelsInCorner(TStatsForm& form) {
  const QImage image = form.G->grab().toImage();
  const GraphGeometry& g = form.Geometry();
  int dark = 0;
  for (int x = g.PlotLeft + 5; x < g.PlotLeft + 120; ++x) {
    for (int y = g.PlotTop; y < g.PlotTop + 20; ++y) dark += image.pixelColor(x, y).value() < 128;
  }
  return dark;
}

// A refresh leaves the window's thread at once: until the day is ready the window keeps its
// columns and shows a busy cursor and the loading line; then the day shows without them.
TEST_F(StatsFormTest, ARefreshReadsOffTheWindowsThreadAndSaysSoMeanwhile) {
  Record(today, 43200, "230", "220");
  TStatsForm form(*file);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(TextPixelsInCorner(form), 0);
  // No event is handled between the click and the checks: the worker's end cannot show yet.
  form.ShowButtonClick();
  EXPECT_TRUE(form.Refreshing());
  EXPECT_EQ(form.Columns().BinState[432], kBinEmpty);
  EXPECT_EQ(form.cursor().shape(), Qt::BusyCursor);
  EXPECT_GT(TextPixelsInCorner(form), 20);
  EXPECT_EQ(LoadingText(), QStringLiteral("Загрузка..."));
  // Asked again meanwhile: the later refresh runs after it, and reads what was recorded.
  Record(today, 50400, "240", "230");
  form.ShowButtonClick();
  ASSERT_TRUE(Settled(form));
  EXPECT_EQ(form.Columns().BinState[432], kBinMains);
  EXPECT_EQ(form.Columns().BinState[504], kBinMains);
  EXPECT_NE(form.cursor().shape(), Qt::BusyCursor);
  EXPECT_EQ(TextPixelsInCorner(form), 0);
}

TEST_F(StatsFormTest, PickingAnotherDayRefreshesAndEmptiesColumnsThatHeldData) {
  const QDate yesterday = today.addDays(-1);
  Record(yesterday, 1000, "220", "221");
  Record(today, 43200, "230", "220");
  TStatsForm form(*file);
  form.ShowButtonClick();
  ASSERT_TRUE(Settled(form));
  ASSERT_EQ(form.Columns().BinState[432], kBinMains);
  form.Picker->setDate(yesterday);
  ASSERT_TRUE(Settled(form));
  EXPECT_EQ(form.Columns().BinState[10], kBinMains);
  for (int mode : {0, 1}) {
    form.Mode->setCurrentIndex(mode);
    EXPECT_EQ(form.Columns().BinState[432], kBinEmpty);
    EXPECT_EQ(ColumnColour(form, 432, 70), QColor(Qt::white));
    EXPECT_EQ(ColumnColour(form, 432, 50), QColor(Qt::white));
    form.GMouseMove(form.Geometry().ColumnX(432));
    EXPECT_EQ(form.windowTitle(), kCaption);
    form.GMouseMove(form.Geometry().ColumnX(10));
    EXPECT_NE(form.windowTitle(), kCaption);
  }
}

TEST_F(StatsFormTest, PointerMovesOverTheGraphShowTheColumnInTheCaption) {
  Record(today, 43200, "230", "220");
  TStatsForm form(*file);
  form.ShowButtonClick();
  ASSERT_TRUE(Settled(form));
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.G->grab();  // painted, so the geometry is known
  const int x = form.Geometry().ColumnX(432);
  QTest::mouseMove(form.G, QPoint(x, 50));
  EXPECT_EQ(form.windowTitle(), kCaption + QStringLiteral(" [12:00:00 230V]"));
  // Left of the first column: the caption is restored.
  QTest::mouseMove(form.G, QPoint(form.Geometry().PlotLeft, 50));
  EXPECT_EQ(form.windowTitle(), kCaption);
}

TEST_F(StatsFormTest, ClosingHidesAndKeepsDateSeriesAndColumns) {
  const QDate yesterday = today.addDays(-1);
  Record(yesterday, 43200, "230", "220");
  QPointer<TStatsForm> form = new TStatsForm(*file);
  form->Picker->setDate(yesterday);
  ASSERT_TRUE(Settled(*form));
  form->Mode->setCurrentIndex(1);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.data()));
  QTest::mouseClick(form->CloseButton, Qt::LeftButton);
  QCoreApplication::processEvents();
  ASSERT_FALSE(form.isNull());
  EXPECT_FALSE(form->isVisible());
  Record(yesterday, 50400, "240", "230");
  form->show();
  EXPECT_EQ(form->Picker->date(), yesterday);
  EXPECT_EQ(form->Mode->currentIndex(), 1);
  EXPECT_EQ(form->Columns().BinState[432], kBinMains);
  EXPECT_EQ(form->Columns().BinState[504], kBinEmpty);  // showing again does not refresh
  form->close();
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.isNull());
  delete form.data();
}

// A day with mains and battery periods, as the window shows it. With QELTA_SCREENSHOT_DIR set,
// the window is also saved there as stats-window.png, and as stats-window-loading.png while a
// refresh is under way.
TEST_F(StatsFormTest, ADayOfMainsAndBatteryPeriodsAsTheWindowShowsIt) {
  const QDate day = today.addDays(-3);
  auto battery = [](uint32_t s) {
    return (s >= 9 * 3600 + 1200 && s < 9 * 3600 + 2700) || (s >= 15 * 3600 && s < 16 * 3600 + 900);
  };
  for (uint32_t s = 0; s < 86400; s += 3) {
    if (s >= 2 * 3600 && s < 2 * 3600 + 1800) continue;  // the monitor was not running
    const double hour = s / 3600.0;
    const double input = 224 + 9 * std::sin(hour / 24 * 2 * M_PI * 3) + 4 * std::sin(hour * 7.3) -
                         (hour > 18 && hour < 21 ? 14 : 0);
    const double output = 220 + 1.5 * std::sin(hour * 5.1);
    const bool on_battery = battery(s);
    Record(day, s, on_battery ? "0" : QByteArray::number(input, 'f', 1).constData(),
           QByteArray::number(on_battery ? 219.0 : output, 'f', 1).constData(), on_battery);
  }
  TStatsForm form(*file);
  form.Picker->setDate(day);
  ASSERT_TRUE(Settled(form));
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QCoreApplication::processEvents();
  const GraphGeometry& g = form.Geometry();
  for (int mode : {0, 1}) {
    form.Mode->setCurrentIndex(mode);
    const QImage graph = form.G->grab().toImage();
    const QColor mains = mode == 0 ? kInputLineColour : kOutputLineColour;
    const int middle = g.PlotTop + g.PlotHeight / 2;
    // 09:20 to 09:45 and 15:00 to 16:15 on battery: bars; 02:00 to 02:30 empty.
    for (int j : {9 * 36 + 12, 9 * 36 + 26, 15 * 36, 16 * 36 + 8}) {
      EXPECT_EQ(graph.pixelColor(g.ColumnX(j), middle), kBatteryColour) << j;
    }
    for (int j = 2 * 36 + 1; j < 2 * 36 + 17; ++j) {
      for (int y = g.PlotTop; y < g.Bottom(); ++y) {
        const QColor c = graph.pixelColor(g.ColumnX(j), y);
        ASSERT_TRUE(c == Qt::white || c == kGridColour) << j << "," << y;
      }
    }
    int mains_columns = 0;
    for (int j = 0; j < kDayColumns; ++j) {
      for (int y = g.PlotTop; y < g.Bottom(); ++y) {
        if (graph.pixelColor(g.ColumnX(j), y) == mains) {
          ++mains_columns;
          break;
        }
      }
    }
    EXPECT_GT(mains_columns, 700);
    if (mode == 0) {
      const QByteArray folder = qgetenv("QELTA_SCREENSHOT_DIR");
      if (!folder.isEmpty()) {
        EXPECT_TRUE(form.grab().save(QString::fromLocal8Bit(folder) + "/stats-window.png"));
        // The same day while a refresh reads the file again.
        form.ShowButtonClick();
        EXPECT_TRUE(form.grab().save(QString::fromLocal8Bit(folder) + "/stats-window-loading.png"));
        ASSERT_TRUE(Settled(form));
      }
    }
  }
}

// The graph's description for a screen reader follows the refresh, the picked day and the
// series shown.
TEST_F(StatsFormTest, TheGraphsDescriptionFollowsRefreshDayAndSeries) {
  const QDate yesterday = today.addDays(-1);
  Record(yesterday, 43200, "230", "220");
  Record(yesterday, 43300, "150", "150", true);
  TStatsForm form(*file);
  form.ShowButtonClick();
  ASSERT_TRUE(Settled(form));
  const QString empty = form.G->accessibleDescription();
  EXPECT_TRUE(empty.contains(QLocale().toString(today, QLocale::LongFormat)))
      << empty.toStdString();
  EXPECT_TRUE(empty.contains(QStringLiteral("Нет данных"))) << empty.toStdString();

  form.Picker->setDate(yesterday);  // a change of day refreshes
  ASSERT_TRUE(Settled(form));
  const QString input = form.G->accessibleDescription();
  EXPECT_TRUE(input.contains(QLocale().toString(yesterday, QLocale::LongFormat)));
  EXPECT_TRUE(input.contains(QStringLiteral("График напряжения в электросети. Максимум 230V")))
      << input.toStdString();
  const QString battery = QStringLiteral("Питание от батареи: 12:01:40 - 12:03:20.");
  EXPECT_TRUE(input.contains(battery)) << input.toStdString();

  form.Mode->setCurrentIndex(1);
  const QString output = form.G->accessibleDescription();
  EXPECT_TRUE(output.contains(QStringLiteral("График напряжения на выходе UPS. Максимум 220V")))
      << output.toStdString();
  EXPECT_TRUE(output.contains(battery));

  // A record that comes later shows at the next refresh, not before.
  Record(yesterday, 50000, "240", "225");
  form.Mode->setCurrentIndex(0);
  EXPECT_FALSE(form.G->accessibleDescription().contains(QStringLiteral("Максимум 240V")));
  form.ShowButtonClick();
  ASSERT_TRUE(Settled(form));
  EXPECT_TRUE(form.G->accessibleDescription().contains(QStringLiteral("Максимум 240V")));
}

}  // namespace
}  // namespace qelta
