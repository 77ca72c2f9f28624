// The tray menu of a real main window (offscreen, private folders, no UPS).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <fstream>

#include "monitor/qwatch_main.h"
#include "monitor/tray_menu.h"

namespace qelta {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "tray_menu_test";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

QStringList Captions(const QMenu& menu) {
  QStringList captions;
  for (QAction* action : menu.actions()) {
    captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
  }
  return captions;
}

class TrayMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    const QString folder = home.path() + "/config/QELTA/QELTA MONITOR";
    ASSERT_TRUE(QDir().mkpath(folder));
    std::ofstream((folder + "/1.0.ini").toStdString())
        << "[Settings]\nInstalled=1\nVersion=0.99.6\nPort=COM1\nInterval=0\n"
        << "[Network]\nServe=0\n"
        << "[Ports]\nCOM1=" << (home.path() + "/no-such-device").toStdString() << "\n";
  }
  QTemporaryDir home;
};

TEST_F(TrayMenuTest, MenuHasTheItemsInOrderAndTheTailFollowsTheCountdown) {
  TMainForm form({});
  form.CreateInfoForm();
  ASSERT_FALSE(form.TerminationRequested());
  QMenu* menu = form.Menu();
  ASSERT_NE(menu, nullptr);
  const QStringList fixed = {QString::fromUtf8("&Состояние UPS..."),
                             QString::fromUtf8("&Доп. звук. оповещение"),
                             "-",
                             QString::fromUtf8("&Статистика..."),
                             QString::fromUtf8("&Тестирование UPS..."),
                             "-",
                             QString::fromUtf8("&Конфигурация..."),
                             QString::fromUtf8("&О программе"),
                             QString::fromUtf8("&Закрыть")};
  const QString cancel = QString::fromUtf8("Отменить завершение работы");
  // As built, before the first right click.
  EXPECT_EQ(Captions(*menu), fixed + QStringList({"-", cancel}));

  int cancelled = 0;
  RebuildTrayMenuTail(*menu, false, [&] { ++cancelled; });
  EXPECT_EQ(Captions(*menu), fixed);
  // Two right clicks during one countdown: one tail.
  RebuildTrayMenuTail(*menu, true, [&] { ++cancelled; });
  RebuildTrayMenuTail(*menu, true, [&] { ++cancelled; });
  EXPECT_EQ(Captions(*menu), fixed + QStringList({"-", cancel}));
  menu->actions().back()->trigger();
  EXPECT_EQ(cancelled, 1);
  form.CloseMenuClick();
}

TEST_F(TrayMenuTest, NoLinkDisablesTheUpsCommands) {
  TMainForm form({});
  form.CreateInfoForm();
  form.Core().UpdateTimerTimer();  // the UPS's device does not exist
  ASSERT_FALSE(form.Core().LinkOK());
  QMenu* menu = form.Menu();
  emit menu->aboutToShow();
  const QList<QAction*> actions = menu->actions();
  EXPECT_FALSE(actions[1]->isEnabled());
  EXPECT_FALSE(actions[1]->isChecked());
  EXPECT_FALSE(actions[4]->isEnabled());
  EXPECT_TRUE(actions[0]->isEnabled());
  EXPECT_TRUE(actions[8]->isEnabled());
  form.CloseMenuClick();
}

}  // namespace
}  // namespace qelta
