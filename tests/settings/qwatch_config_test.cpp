// The configuration window offscreen: its controls as designed, nothing clipped at the
// desktop's font or a larger one, and the user's changes reaching the store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTest>
#include <QToolButton>

#include "config_fixture.h"
#include "monitor/handler_guard.h"
#include "settings/config_widgets.h"
#include "settings/qwatch_config.h"
#include "settings/report_address.h"
#include "settings/setting_keys.h"
#include "settings_test_support.h"
#include "test_application.h"

namespace qelta::testing {
namespace {

using C = ConfigControl;

class ConfigurationFormTest : public ConfigFixture {
 protected:
  void SetUp() override { TestApplication(); }
  void TearDown() override { QApplication::setFont(QFont()); }

  TConfigurationForm& Form() {
    if (!form) {
      form = std::make_unique<TConfigurationForm>(
          Deps(), [this](const std::function<void()>& h) { RunGuarded(reporter, h); });
    }
    return *form;
  }

  RecordingReporter reporter;
  std::unique_ptr<TConfigurationForm> form;
};

QString Caption(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  return QString();
}

TEST_F(ConfigurationFormTest, ControlsCarryTheirCaptionsHintsRangesAndTabOrder) {
  TConfigurationForm& f = Form();
  EXPECT_EQ(f.windowTitle(), "QELTA MONITOR");
  EXPECT_FALSE(f.isModal());
  struct Expected {
    C control;
    const char* caption;
    const char* hint;
  };
  const Expected expected[] = {
      {C::Label1, "Режим работы от батарей", ""},
      {C::Label2, "Порт:", ""},
      {C::Port, "", "Выберите последовательный порт, к которому подключен UPS."},
      {C::Search, "&Поиск", "Автоматически определить порт, к которому подключен UPS."},
      {C::Label8, "Интервал:", ""},
      {C::Interval, "", "Выберите интервал проверки состояния UPS."},
      {C::CloseInformationOnDeactivateCheckbox, "Автоматически закрывать окно состояния UPS",
       "Автоматически закрыть окно состояния UPS при переключении в другую программу."},
      {C::PopupBaloonIn2SecsCheckBox, "Показать состояние UPS при 4-х сек. удержании Ctrl",
       "Показать текущее состояние UPS при четырехсекундном удержании Ctrl (работает в любой "
       "программе)."},
      {C::CatchStats, "Накапливать статистику UPS",
       "Накапливать статистику для дальнейшего построения графиков в разделе "
       "\"Статистика\"."},
      {C::AutoRun, "Запускать при входе в систему",
       "Запускать QELTA MONITOR автоматически при входе в систему."},
      {C::WarnOnModeChangeCheckbox, "Сообщать о переходе на питание от батарей",
       "Сообщать о переходе на питание от батарей и обратно."},
      {C::SenseBattery, "Оповестить о переходе в режим работы",
       "Оповестить о переходе в режим работы от батарей через указанное количество времени."},
      {C::SenseLabel1, "от батарей через", ""},
      {C::SenseLabel2, "сек.", ""},
      {C::SenseBatteryPercent, "Оповестить, если заряд батареи",
       "Оповестить, если заряд батареи менее указанного."},
      {C::SenseLabel4, "менее", ""},
      {C::SenseLabel5, "%", ""},
      {C::SensePlaySound, "Проиграть звук", "Воспроизвести указанный звуковой файл."},
      {C::SenseShutdown, "Автоматически завершить работу компьютера",
       "Автоматически завершить работу через указанное количество времени после оповещения."},
      {C::Label3, "через", ""},
      {C::SenseLabel3, "сек. после оповещения", ""},
      {C::PerformPost, "Передавать состояние UPS на HTTP-сервер:",
       "Передавать состояние UPS на указанный адрес (метод POST) с указанным интервалом."},
      {C::CloseButton, "&Закрыть", ""},
  };
  for (const Expected& e : expected) {
    QWidget* widget = f.Control(e.control);
    EXPECT_EQ(Caption(widget), QString::fromUtf8(e.caption));
    EXPECT_EQ(widget->toolTip(), QString::fromUtf8(e.hint)) << e.caption;
  }
  QStringList ports;
  for (int i = 0; i < f.Port->count(); ++i) ports << f.Port->itemText(i);
  EXPECT_EQ(ports, QStringList({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
                                "USB", QString::fromUtf8("Сеть")}));
  // With QELTA_SCREENSHOT_DIR set, the dialog with the network entry chosen is saved there.
  if (const QByteArray folder = qgetenv("QELTA_SCREENSHOT_DIR"); !folder.isEmpty()) {
    const int before = f.Port->currentIndex();
    f.Port->setCurrentIndex(9);
    EXPECT_TRUE(f.grab().save(QString::fromLocal8Bit(folder) + "/config-dialog-network-port.png"));
    f.Port->setCurrentIndex(before);
  }
  for (QComboBox* list : {f.Interval, f.PostInterval}) {
    EXPECT_FALSE(list->isEditable());
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(1), QString::fromUtf8("10 секунд"));
    EXPECT_EQ(list->currentIndex(), -1);
  }
  EXPECT_EQ(f.SenseTime->minimum(), 5);
  EXPECT_EQ(f.SenseTime->maximum(), 3600);
  EXPECT_EQ(f.SenseBatteryPercentValue->minimum(), 15);
  EXPECT_EQ(f.SenseBatteryPercentValue->maximum(), 90);
  EXPECT_EQ(f.SenseBatteryPercentValue->value(), 15);
  EXPECT_EQ(f.SenseShutdownCountdown->value(), 5);
  EXPECT_EQ(f.PostURL->text(), kSamplePostUrl);
  EXPECT_TRUE(f.CloseButton->isDefault());
  EXPECT_FALSE(f.Search->autoDefault());

  // Tab order from the port list to the close button and round again; the sound field's browse
  // button is a stop of its own.
  const QList<QWidget*> order = {f.Port,
                                 f.Search,
                                 f.Interval,
                                 f.CloseInformationOnDeactivateCheckbox,
                                 f.PopupBaloonIn2SecsCheckBox,
                                 f.CatchStats,
                                 f.AutoRun,
                                 f.WarnOnModeChangeCheckbox,
                                 f.SenseBattery,
                                 f.SenseTime,
                                 f.SenseBatteryPercent,
                                 f.SenseBatteryPercentValue,
                                 f.SensePlaySound,
                                 f.SenseSound->Edit(),
                                 f.SenseSound->BrowseButton(),
                                 f.SenseSoundPreview,
                                 f.SenseShutdown,
                                 f.SenseShutdownCountdown,
                                 f.PerformPost,
                                 f.PostURL,
                                 f.PostInterval,
                                 f.CloseButton};
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.Port->setFocus();
  for (int i = 1; i <= order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), order[i % order.size()]) << i;
  }
}

// Every caption's text and every field's frame fit the room the layout gives them, and no two
// controls, the header or the dividing lines overlap.
void ExpectNothingClipped(TConfigurationForm& form) {
  const QRect client(QPoint(0, 0), form.size());
  std::vector<std::pair<QString, QRect>> placed;
  for (int i = 0; i < kConfigControlCount; ++i) {
    QWidget* widget = form.Control(static_cast<C>(i));
    const QRect area = widget->geometry();
    const QString name = widget->objectName();
    EXPECT_TRUE(client.contains(area)) << name.toStdString();
    QSize need = widget->sizeHint();
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      QString text = button->text();
      text.remove('&');
      need.setWidth(button->fontMetrics().horizontalAdvance(text) +
                    2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin));
      need.setHeight(button->fontMetrics().height());
    } else if (qobject_cast<QLineEdit*>(widget) || qobject_cast<FileNameEdit*>(widget)) {
      need.setWidth(widget->minimumSizeHint().width());
    }
    EXPECT_GE(area.width(), need.width()) << name.toStdString() << " clipped across";
    EXPECT_GE(area.height(), need.height()) << name.toStdString() << " clipped down";
    for (const auto& [other, other_area] : placed) {
      EXPECT_FALSE(area.intersects(other_area))
          << name.toStdString() << " overlaps " << other.toStdString();
    }
    placed.emplace_back(name, area);
  }
  const QList<QWidget*> decorations = form.Decorations();
  const QRect header = decorations[0]->geometry();
  EXPECT_TRUE(header.contains(decorations[1]->geometry()));  // the logo
  EXPECT_TRUE(header.contains(form.Label1->geometry()));
  for (int i = 2; i < decorations.size(); ++i) {
    for (const auto& [name, area] : placed) {
      EXPECT_FALSE(decorations[i]->geometry().intersects(area))
          << "line " << i << " crosses " << name.toStdString();
    }
  }
  // The vertical line parts the groups: general settings left of it, the battery group right.
  const int divider = decorations[6]->geometry().left();
  EXPECT_LT(form.PopupBaloonIn2SecsCheckBox->geometry().right(), divider);
  EXPECT_GT(form.SenseShutdown->geometry().left(), divider);
}

TEST_F(ConfigurationFormTest, NoCaptionIsClippedAtTheDesktopsFont) {
  ExpectNothingClipped(Form());
  // Not narrower or lower than designed.
  EXPECT_GE(Form().width(), 577);
  EXPECT_GE(Form().height(), 305);
}

TEST_F(ConfigurationFormTest, NoCaptionIsClippedAtALargeFont) {
  QFont large = QApplication::font();
  large.setPointSize(15);
  QApplication::setFont(large);
  ExpectNothingClipped(Form());
}

TEST_F(ConfigurationFormTest, UserChangesReachTheStoreAndTheEnabledStates) {
  settings.WriteInteger(kSettings, kInterval, 3);
  Form().FormCreate();
  TConfigurationForm& f = Form();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  EXPECT_EQ(f.Interval->currentIndex(), 0);
  EXPECT_EQ(f.SenseTime->value(), 15);
  EXPECT_FALSE(f.SenseTime->isEnabled());
  EXPECT_TRUE(f.SenseShutdown->isChecked());
  settings.writes.clear();

  f.SenseBattery->click();
  EXPECT_TRUE(settings.ReadBool(kSense, kBattery, false));
  EXPECT_TRUE(f.SenseTime->isEnabled());
  EXPECT_TRUE(f.SenseShutdownCountdown->isEnabled());
  EXPECT_FALSE(f.SenseSound->isEnabled());

  // Typing into a spin field stores each text as it stands.
  f.SenseTime->setFocus();
  f.SenseTime->selectAll();
  QTest::keyClicks(f.SenseTime, "120");
  EXPECT_EQ(settings.ReadInteger(kSense, kBatteryTime, 0), 120);
  EXPECT_NE(std::find(settings.writes.begin(), settings.writes.end(), "Sense/BatteryTime=1"),
            settings.writes.end());
  QTest::keyClick(f.SenseTime, Qt::Key_Up);
  EXPECT_EQ(settings.ReadInteger(kSense, kBatteryTime, 0), 121);
  // One write per change of the text.
  EXPECT_EQ(std::count_if(settings.writes.begin(), settings.writes.end(),
                          [](const std::string& w) { return w.starts_with("Sense/BatteryTime"); }),
            4);

  // A keyboard choice in the interval list restarts the poll timer.
  f.Interval->setFocus();
  QTest::keyClick(f.Interval, Qt::Key_Down);
  EXPECT_EQ(settings.ReadInteger(kSettings, kInterval, 0), 10);
  EXPECT_EQ(update_timer->Interval(), 10000);

  f.PostURL->setEnabled(true);
  f.PerformPost->click();
  f.PostURL->selectAll();
  QTest::keyClicks(f.PostURL, "ab");
  EXPECT_EQ(settings.ReadString(kPost, kUrl, ""), "ab");

  // A failing store shows its error; the box keeps the user's click.
  settings.failing_key = kEnabled;
  f.CatchStats->click();
  EXPECT_EQ(reporter.messages, QStringList{"Failed to set data for 'Enabled'"});
  EXPECT_FALSE(f.CatchStats->isChecked());

  // Escape does nothing; the close button hides the window, which keeps its controls.
  QTest::keyClick(&f, Qt::Key_Escape);
  EXPECT_TRUE(f.isVisible());
  f.CloseButton->click();
  EXPECT_FALSE(f.isVisible());
  f.show();
  EXPECT_EQ(f.SenseTime->value(), 121);
}

TEST_F(ConfigurationFormTest, AddressFieldSaysAtOnceWhenReportsCannotGoThere) {
  settings.WriteBool(kPost, kPerform, true);
  settings.WriteString(kPost, kUrl, "https://ups.example/x");
  Form().FormCreate();
  TConfigurationForm& f = Form();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  const QColor normal = f.palette().color(QPalette::Base);
  auto ground = [&] { return f.PostURL->palette().color(QPalette::Base); };
  // The stored address is checked when the dialog is filled.
  EXPECT_NE(ground(), normal);
  EXPECT_TRUE(f.PostURL->toolTip().contains(u"https://")) << f.PostURL->toolTip().toStdString();

  // Keystroke by keystroke: usable with "http://" and a port, refused with a bad port.
  f.PostURL->setFocus();
  f.PostURL->selectAll();
  QTest::keyClicks(f.PostURL, "http://127.0.0.2:8080/ups?x=1");
  EXPECT_EQ(ground(), normal);
  EXPECT_EQ(f.PostURL->toolTip(), ReportAddressHint());
  QTest::keyClick(f.PostURL, Qt::Key_Home);
  for (int i = 0; i < 21; ++i) QTest::keyClick(f.PostURL, Qt::Key_Right);
  QTest::keyClicks(f.PostURL, "0");  // port 80800
  EXPECT_EQ(settings.ReadString(kPost, kUrl, ""), "http://127.0.0.2:80800/ups?x=1");
  EXPECT_NE(ground(), normal);
  EXPECT_TRUE(f.PostURL->toolTip().contains(u"65535"));
  // With QELTA_SCREENSHOT_DIR set, the dialog as it shows an address it cannot use.
  const QByteArray folder = qgetenv("QELTA_SCREENSHOT_DIR");
  if (!folder.isEmpty()) {
    EXPECT_TRUE(f.grab().save(QString::fromLocal8Bit(folder) + "/config-dialog-address.png"));
  }
  QTest::keyClick(f.PostURL, Qt::Key_Backspace);
  EXPECT_EQ(ground(), normal);
}

// Whatever the user leaves in a spin field, once editing ends the store holds the number the
// field shows: an emptied field, a number below the minimum and one over the maximum.
TEST_F(ConfigurationFormTest, ASpinFieldStoresWhatItShowsOnceEditingEnds) {
  Form().FormCreate();
  TConfigurationForm& f = Form();
  f.SenseBattery->click();
  f.SenseBatteryPercent->click();
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  struct Field {
    QSpinBox* spin;
    const char* key;
    const char* below_minimum;
  };
  for (const Field& field : {Field{f.SenseTime, kBatteryTime, "3"},
                             Field{f.SenseBatteryPercentValue, kBatteryPercentValue, "1"},
                             Field{f.SenseShutdownCountdown, kBatteryShutdownCountdown, "4"}}) {
    SCOPED_TRACE(field.key);
    ASSERT_TRUE(field.spin->isEnabled());
    auto ends_as_shown = [&](const char* typed, bool tab) {
      SCOPED_TRACE(typed);
      field.spin->setFocus();
      field.spin->selectAll();
      QTest::keyClick(field.spin, Qt::Key_Delete);
      QTest::keyClicks(field.spin, typed);
      if (tab) {
        QTest::keyClick(field.spin, Qt::Key_Tab);
        EXPECT_FALSE(field.spin->hasFocus());
      } else {
        f.CloseButton->click();  // the window closes with the field in focus
        f.show();
        f.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
      }
      EXPECT_EQ(QString::number(settings.ReadInteger(kSense, field.key, -1)), field.spin->text());
      EXPECT_EQ(settings.ReadInteger(kSense, field.key, -1), field.spin->value());
    };
    ends_as_shown("", true);
    ends_as_shown(field.below_minimum, true);
    ends_as_shown("99999", true);
    ends_as_shown("", false);
  }
}

TEST_F(ConfigurationFormTest, PortEntriesNameTheDeviceEachPortOpensNow) {
  settings.WriteString(kPorts, "COM2", "/dev/serial/by-id/usb-FTDI_B-port0");
  Form().FormCreate();
  Form().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
  EXPECT_EQ(Form().Port->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS0");
  EXPECT_EQ(Form().Port->itemData(1, Qt::ToolTipRole).toString(),
            "/dev/serial/by-id/usb-FTDI_B-port0");
  // Brought up to date when the list opens.
  settings.WriteString(kPorts, "COM1", "/dev/ttyUSB3");
  Form().Port->showPopup();
  EXPECT_EQ(Form().Port->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyUSB3");
  Form().Port->hidePopup();
}

}  // namespace
}  // namespace qelta::testing
