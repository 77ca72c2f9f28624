#include "display/qwatch_info.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <vector>

#include "monitor/popup_placement.h"
#include "platform/manual_clock.h"
#include "settings/memory_settings.h"

namespace qelta {
namespace {

class FakeSource : public InfoSource {
 public:
  bool LinkOK() const override { return link_ok; }
  const TUPSStatus& LastStatus() const override { return status; }
  bool ShutdownPending() const override { return pending; }
  uint32_t ShutdownDeadline() const override { return deadline; }
  uint32_t TickCount() override { return tick; }
  void SetPerformTestEnabled(bool enabled) override { perform_test_calls.push_back(enabled); }
  std::string ServerName() override { return server; }
  std::string server;

  bool link_ok = false;
  TUPSStatus status;
  bool pending = false;
  uint32_t deadline = 0;
  uint32_t tick = 0;
  std::vector<bool> perform_test_calls;
};

class RecordingBalloons : public BalloonSink {
 public:
  struct Shown {
    QString title;
    QString text;
    BalloonIcon icon;
    int timeout_ms;
  };
  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override {
    shown.push_back({title, text, icon, timeout_ms});
  }
  std::vector<Shown> shown;
};

// Counts the boolean reads, to see when the auto-hide consults the store.
class CountingSettings : public MemorySettings {
 public:
  bool ReadBool(const std::string& section, const std::string& key, bool def) override {
    ++bool_reads;
    return MemorySettings::ReadBool(section, key, def);
  }
  int bool_reads = 0;
};

TUPSStatus SampleStatus() {
  TUPSStatus s;
  s.IP_voltage = "000.0";
  s.IP_fault_voltage = "140.0";
  s.OP_voltage = "220.0";
  s.OP_current = "081";
  s.OP_frequency = "50.0";
  s.battery_voltage = "9.50";
  s.temp = "25.37";
  s.status_using_battery = true;
  return s;
}

// Every flag that adds words to the status line, the beeper on.
TUPSStatus WorstCaseStatus() {
  TUPSStatus s = SampleStatus();
  s.status_battery_low = true;
  s.status_avr = true;
  s.status_ups_failed = true;
  s.status_testing = true;
  s.status_shutdown = true;
  s.status_beeper = true;
  return s;
}

// True when the label's whole text, wrapped at the label's width, fits in the label.
bool ShowsAllItsText(const QLabel* label) {
  const QRect needed =
      QFontMetrics(label->font())
          .boundingRect(QRect(0, 0, label->width(), 100000),
                        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, label->text());
  return needed.height() <= label->height() && needed.width() <= label->width();
}

class InfoFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QApplication::instance() == nullptr) {
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
      static int argc = 1;
      static char name[] = "test_display";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);  // lives until the process ends
    }
  }

  QLabel* Label(TInfoForm& form, const char* name) {
    QLabel* label = form.findChild<QLabel*>(QString::fromLatin1(name));
    EXPECT_NE(label, nullptr) << name;
    return label;
  }
  static bool IsRed(QLabel* label) {
    return label->palette().color(QPalette::WindowText) == QColor(Qt::red);
  }

  FakeSource source;
  CountingSettings settings;
  RecordingBalloons balloons;
  ManualClock clock;
};

TEST_F(InfoFormTest, AUpsServedElsewhereIsNamedInTheTitle) {
  TInfoForm form(source, settings, balloons, clock);
  source.server = "qelta@192.0.2.10:3493";
  form.RefreshStatus();
  EXPECT_EQ(form.windowTitle(), "QELTA MONITOR: qelta@192.0.2.10:3493");
  source.server.clear();  // back on a cable
  form.RefreshStatus();
  EXPECT_EQ(form.windowTitle(), "QELTA MONITOR");
}

TEST_F(InfoFormTest, WindowAndInitialRefresh) {
  TInfoForm form(source, settings, balloons, clock);
  EXPECT_EQ(form.windowTitle(), "QELTA MONITOR");
  EXPECT_EQ(form.size(), QSize(248, 133));
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(form.isVisible());

  // The constructor refreshed once, with the link down.
  EXPECT_EQ(source.perform_test_calls, std::vector<bool>{false});
  const char* names[] = {"IP_voltage",   "OP_voltage",      "OP_current",
                         "OP_frequency", "battery_voltage", "temp"};
  for (int row = 0; row < kInfoReadingCount; ++row) {
    QLabel* label = Label(form, names[row]);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "-");
    EXPECT_EQ(form.ReadingText(row), "-");
    EXPECT_EQ(label->pos(), QPoint(184, 8 + 16 * row)) << names[row];
  }
  EXPECT_EQ(form.ReadingText(kInfoReadingCount), QString());
  EXPECT_EQ(form.ReadingText(-1), QString());
  QLabel* status = Label(form, "Status");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(), "Статус: нет информации");
  EXPECT_EQ(status->geometry(), QRect(8, 104, 233, 25));
  EXPECT_TRUE(status->wordWrap());
  EXPECT_TRUE(form.SummaryText().isEmpty());

  // The captions of the rows.
  const QString captions[] = {
      "Напряжение на входе:",          "Напряжение на выходе:", "Нагрузка на выходе:",
      "Частота напряжения на выходе:", "Заряд батареи:",        "Температура:"};
  for (int row = 0; row < kInfoReadingCount; ++row) {
    bool found = false;
    for (QLabel* label : form.findChildren<QLabel*>()) {
      if (label->text() == captions[row]) {
        found = true;
        EXPECT_EQ(label->geometry().topLeft(), QPoint(8, 8 + 16 * row));
        EXPECT_EQ(label->width(), 170);
        // Not clipped, whatever the desktop's default sans font.
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), 170)
            << captions[row].toStdString();
      }
    }
    EXPECT_TRUE(found) << captions[row].toStdString();
  }
}

TEST_F(InfoFormTest, LabelsCarryTextsAndColours) {
  TInfoForm form(source, settings, balloons, clock);
  const QColor normal = form.palette().color(QPalette::WindowText);
  ASSERT_NE(normal, QColor(Qt::red));

  source.link_ok = true;
  source.status = SampleStatus();
  form.RefreshStatus();
  EXPECT_EQ(source.perform_test_calls.back(), true);

  struct Expect {
    const char* name;
    QString text;
    bool highlighted;
  };
  const Expect expected[] = {
      {"IP_voltage", "0.0V", true},     {"OP_voltage", "220.0V", false},
      {"OP_current", "81%", true},      {"OP_frequency", "50.0Hz", false},
      {"battery_voltage", "69%", true}, {"temp", "25.4°C", false},
  };
  for (int row = 0; row < kInfoReadingCount; ++row) {
    const Expect& e = expected[row];
    QLabel* label = Label(form, e.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), e.text) << e.name;
    EXPECT_EQ(form.ReadingText(row), e.text) << e.name;
    EXPECT_EQ(IsRed(label), e.highlighted) << e.name;
    EXPECT_EQ(label->font().bold(), e.highlighted) << e.name;
    if (!e.highlighted) {
      EXPECT_EQ(label->palette().color(QPalette::WindowText), normal) << e.name;
    }
    EXPECT_GE(label->width(), label->sizeHint().width()) << e.name;  // sized to the text
  }
  EXPECT_EQ(Label(form, "Status")->text(),
            "Статус: работа от батареи, доп. звук. оповещение выключено");
  EXPECT_TRUE(form.SummaryText().startsWith("Напряжение на входе: 0.0V\r\n"));
  const QString summary_up = form.SummaryText();

  // Back to ordinary readings: highlighting goes back to normal colour and weight.
  TUPSStatus calm = SampleStatus();
  calm.status_using_battery = false;
  calm.OP_current = "080";
  calm.battery_voltage = "13.60";
  calm.temp = "35.1";
  calm.status_testing = true;
  source.status = calm;
  form.RefreshStatus();
  EXPECT_EQ(source.perform_test_calls.back(), false);
  EXPECT_FALSE(IsRed(Label(form, "IP_voltage")));
  EXPECT_EQ(Label(form, "IP_voltage")->palette().color(QPalette::WindowText), normal);
  EXPECT_FALSE(Label(form, "IP_voltage")->font().bold());
  EXPECT_FALSE(IsRed(Label(form, "OP_current")));
  EXPECT_FALSE(IsRed(Label(form, "battery_voltage")));
  EXPECT_TRUE(IsRed(Label(form, "temp")));
  EXPECT_TRUE(Label(form, "temp")->font().bold());
  EXPECT_NE(form.SummaryText(), summary_up);
  const QString summary_calm = form.SummaryText();

  // Link lost: dashes, colours and summary of the last good refresh stay.
  source.link_ok = false;
  source.status = SampleStatus();  // must not be read
  form.RefreshStatus();
  EXPECT_EQ(source.perform_test_calls.back(), false);
  for (int row = 0; row < kInfoReadingCount; ++row) EXPECT_EQ(form.ReadingText(row), "-");
  EXPECT_EQ(Label(form, "Status")->text(), "Статус: нет информации");
  EXPECT_TRUE(IsRed(Label(form, "temp")));
  EXPECT_FALSE(IsRed(Label(form, "battery_voltage")));
  EXPECT_EQ(form.SummaryText(), summary_calm);
}

TEST_F(InfoFormTest, CountdownInSummaryUsesTheSourceTick) {
  source.link_ok = true;
  source.status = SampleStatus();
  source.pending = true;
  source.tick = 0xFFFFFFF0u;
  source.deadline = 45010;  // 45026 ms ahead, across the wrap
  TInfoForm form(source, settings, balloons, clock);
  EXPECT_TRUE(form.SummaryText().endsWith("\r\n\r\nЗавершение работы через 45 сек."));
  source.deadline = source.tick;
  form.RefreshStatus();
  EXPECT_FALSE(form.SummaryText().contains("Завершение"));
}

TEST_F(InfoFormTest, GrowsToShowTheWholeStatusAndTheCountdown) {
  source.link_ok = true;
  source.status = WorstCaseStatus();
  source.pending = true;
  source.tick = 1000;
  source.deadline = 1000 + 45500;
  TInfoForm form(source, settings, balloons, clock);

  QLabel* status = Label(form, "Status");
  QLabel* countdown = Label(form, "Countdown");
  ASSERT_NE(status, nullptr);
  ASSERT_NE(countdown, nullptr);
  EXPECT_EQ(status->text(),
            "Статус: работа от батареи, батарея разряжена, AVR, UPS неисправен, тестирование, "
            "выключение, доп. звук. оповещение включено");
  EXPECT_EQ(countdown->text(), "Завершение работы через 45 сек.");
  EXPECT_FALSE(countdown->isHidden());
  EXPECT_TRUE(IsRed(countdown));
  EXPECT_TRUE(countdown->font().bold());

  // Every line of both fits its label, the labels fit the window, and the countdown comes
  // after the status line; the rows above did not move.
  EXPECT_TRUE(ShowsAllItsText(status)) << status->height();
  EXPECT_TRUE(ShowsAllItsText(countdown)) << countdown->height();
  EXPECT_EQ(status->pos(), QPoint(8, 104));
  EXPECT_GE(countdown->y(), status->geometry().bottom() + 1);
  EXPECT_TRUE(form.rect().contains(status->geometry()));
  EXPECT_TRUE(form.rect().contains(countdown->geometry()));
  EXPECT_EQ(form.width(), 248);
  EXPECT_GT(form.height(), 133);
  EXPECT_EQ(form.ReadingText(kTemp), "25.4°C");

  // As drawn: the countdown's red text is in the window's image, below the status line.
  const QImage image = form.grab().toImage();
  int red = 0;
  for (int y = countdown->y(); y <= countdown->geometry().bottom(); ++y) {
    for (int x = countdown->x(); x <= countdown->geometry().right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 80 && c.blue() < 80) ++red;
    }
  }
  EXPECT_GT(red, 20);

  // Back on mains without a countdown: the window returns to the size of one that never had
  // more to show.
  TUPSStatus calm = SampleStatus();
  calm.status_using_battery = false;
  source.status = calm;
  source.pending = false;
  form.RefreshStatus();
  EXPECT_TRUE(countdown->isHidden());
  EXPECT_TRUE(ShowsAllItsText(status));
  TInfoForm fresh(source, settings, balloons, clock);
  EXPECT_EQ(form.size(), fresh.size());
}

TEST_F(InfoFormTest, PlacedByItsFrameAndKeptInItsCornerWhileItGrows) {
  TInfoForm form(source, settings, balloons, clock);
  // The main window's placement: the frame's bottom-right corner at (700, 560).
  std::vector<QSize> asked;
  form.PlaceFrame([&asked](QSize frame) {
    asked.push_back(frame);
    return QPoint(700 - frame.width(), 560 - frame.height());
  });
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], form.frameGeometry().size());
  form.show();
  QApplication::processEvents();
  EXPECT_EQ(form.frameGeometry().bottomRight(), QPoint(699, 559));

  // The status grows while shown: placed again for the new size, the corner stays.
  source.link_ok = true;
  source.status = WorstCaseStatus();
  source.pending = true;
  source.deadline = 60000;
  form.RefreshStatus();
  QApplication::processEvents();
  const int grown_height = form.height();
  ASSERT_GT(grown_height, 134);
  EXPECT_EQ(asked.back(), form.frameGeometry().size());
  EXPECT_EQ(form.frameGeometry().bottomRight(), QPoint(699, 559));

  // Moved elsewhere by the user: it stays there when its size changes again.
  form.move(100, 90);
  QApplication::processEvents();
  const size_t placements = asked.size();
  source.pending = false;
  source.status = SampleStatus();
  form.RefreshStatus();
  clock.Advance(500);
  QApplication::processEvents();
  EXPECT_LT(form.height(), grown_height);
  EXPECT_EQ(form.frameGeometry().topLeft(), QPoint(100, 90));
  EXPECT_EQ(asked.size(), placements);

  // Hidden and shown again by the next tray click, at the screen's bottom-right corner, with
  // the main window's placement: the whole frame in the available area's corner.
  form.hide();
  QApplication::processEvents();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  const QPoint click = area.bottomRight();
  form.PlaceFrame(
      [click](QSize frame) { return PopupFramePosition(click, DesktopScreens(), frame); });
  form.show();
  QApplication::processEvents();
  EXPECT_EQ(form.frameGeometry().bottomRight(), area.bottomRight());
  EXPECT_TRUE(area.contains(form.frameGeometry()));
}

TEST_F(InfoFormTest, StatusBalloons) {
  TInfoForm form(source, settings, balloons, clock);

  // Link down: error texts.
  form.ShowStatusBalloon(0);
  form.ShowStatusBalloon(1);
  form.ShowStatusBalloon(2);
  form.ShowStatusBalloon(3);
  form.ShowStatusBalloon(-1);
  ASSERT_EQ(balloons.shown.size(), 3u);
  EXPECT_EQ(balloons.shown[0].title, "Добро пожаловать!");
  EXPECT_EQ(balloons.shown[0].text, "Нет связи с UPS. Проверьте кабель и настройки.");
  EXPECT_EQ(balloons.shown[1].title, "Текущее состояние UPS");
  EXPECT_EQ(balloons.shown[1].text, "Нет информации.");
  EXPECT_EQ(balloons.shown[2].title, "Внимание! Питание от батареи UPS.");
  EXPECT_EQ(balloons.shown[2].text, "Нет информации.");
  for (const auto& b : balloons.shown) {
    EXPECT_EQ(b.icon, BalloonIcon::Error);
    EXPECT_EQ(b.timeout_ms, 5000);
  }

  // Link up: the summary of the last refresh, information icon.
  balloons.shown.clear();
  source.link_ok = true;
  source.status = SampleStatus();
  form.RefreshStatus();
  ASSERT_FALSE(form.SummaryText().isEmpty());
  for (int kind : {0, 1, 2, 3}) form.ShowStatusBalloon(kind);
  ASSERT_EQ(balloons.shown.size(), 3u);
  EXPECT_EQ(balloons.shown[0].title, "Добро пожаловать!");
  EXPECT_EQ(balloons.shown[1].title, "Текущее состояние UPS");
  EXPECT_EQ(balloons.shown[2].title, "Внимание! Питание от батареи UPS.");
  for (const auto& b : balloons.shown) {
    EXPECT_EQ(b.text, form.SummaryText());
    EXPECT_EQ(b.icon, BalloonIcon::Information);
    EXPECT_EQ(b.timeout_ms, 5000);
  }
}

TEST_F(InfoFormTest, AutoHideOnlyWhenShownInactiveAndAllowed) {
  TInfoForm form(source, settings, balloons, clock);

  // Hidden: nothing to do, the store is not consulted.
  clock.Advance(1000);
  EXPECT_EQ(settings.bool_reads, 0);

  // Shown and active: stays, the store is not consulted.
  form.show();
  form.activateWindow();
  QApplication::processEvents();
  ASSERT_TRUE(form.isActiveWindow());
  clock.Advance(1000);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(settings.bool_reads, 0);

  // Another window takes the focus.
  QWidget other;
  other.show();
  other.activateWindow();
  QApplication::processEvents();
  ASSERT_FALSE(form.isActiveWindow());

  // Not allowed by the setting: stays on screen, asked at every tick.
  settings.WriteBool("Settings", "CloseInformationOnDeactivate", false);
  clock.Advance(249);
  EXPECT_EQ(settings.bool_reads, 0);
  clock.Advance(1);
  EXPECT_EQ(settings.bool_reads, 1);
  clock.Advance(750);
  EXPECT_EQ(settings.bool_reads, 4);
  EXPECT_TRUE(form.isVisible());

  // Allowed (the default when the value is missing): hidden at the next tick.
  settings.DeleteValue("Settings", "CloseInformationOnDeactivate");
  clock.Advance(250);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(settings.bool_reads, 5);
  clock.Advance(1000);
  EXPECT_EQ(settings.bool_reads, 5);

  // Hiding keeps the texts.
  EXPECT_EQ(form.ReadingText(kTemp), "-");
}

TEST_F(InfoFormTest, AutoHideTimerSleepsWhileHiddenAndKeepsItsMoments) {
  TInfoForm form(source, settings, balloons, clock);
  EXPECT_TRUE(form.AutoHideTimer().Enabled());
  EXPECT_EQ(clock.NextWake(), std::nullopt);  // hidden: nothing to check, nothing wakes
  clock.Advance(1130);

  QWidget other;
  other.show();
  form.show();
  other.activateWindow();
  QApplication::processEvents();
  ASSERT_FALSE(form.isActiveWindow());
  // The check runs at the moments counted from the window's creation, every 250 ms.
  EXPECT_EQ(clock.NextWake(), 1250);
  clock.Advance(119);
  EXPECT_TRUE(form.isVisible());
  clock.Advance(1);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(clock.NextWake(), std::nullopt);
  EXPECT_TRUE(form.AutoHideTimer().Enabled());

  // Closed by its close box, it sleeps as well.
  form.show();
  EXPECT_EQ(clock.NextWake(), 1500);
  form.close();
  EXPECT_EQ(clock.NextWake(), std::nullopt);
}

}  // namespace
}  // namespace qelta
