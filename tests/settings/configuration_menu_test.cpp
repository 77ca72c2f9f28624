// The tray menu's "Конфигурация..." item of a real main window (offscreen, private folders).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QSpinBox>
#include <QTemporaryDir>
#include <fstream>

#include "monitor/qwatch_main.h"
#include "settings/qwatch_config.h"
#include "settings/setting_keys.h"
#include "settings/settings_store.h"
#include "test_application.h"

namespace qelta {
namespace {

class ConfigurationMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    folder = (home.path() + "/config/QELTA/QELTA MONITOR").toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    std::ofstream(folder + "/1.0.ini")
        << "[Settings]\nInstalled=1\nVersion=0.99.6\nPort=COM1\nInterval=30\n"
        << "[Network]\nServe=0\n"
        << "[Ports]\nCOM1=" << (home.path() + "/no-such-device").toStdString() << "\n";
  }
  QAction* ConfigurationItem(TMainForm& form) {
    for (QAction* action : form.Menu()->actions()) {
      if (action->text() == QString::fromUtf8("&Конфигурация...")) return action;
    }
    return nullptr;
  }

  QTemporaryDir home;
  std::string folder;
};

TEST_F(ConfigurationMenuTest, OpensOneDialogThatKeepsItsControlsAndDrivesThePollTimer) {
  TMainForm form({});
  form.CreateInfoForm();
  QAction* item = ConfigurationItem(form);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(form.ConfigurationForm(), nullptr);
  EXPECT_EQ(form.Core().UpdateTimer().Interval(), 30000);

  item->trigger();
  TConfigurationForm* dialog = form.ConfigurationForm();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  SettingsStore store(folder);
  // Filled from the store: 30 s is the third entry.
  EXPECT_EQ(dialog->Interval->currentIndex(), 2);
  EXPECT_TRUE(store.ReadBool(kStats, kEnabled, false));  // stored back by the filling

  item->trigger();
  EXPECT_EQ(form.ConfigurationForm(), dialog);

  // Hidden and opened again: the same controls, the store is not read again.
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());
  store.WriteInteger(kSense, kBatteryTime, 99);
  item->trigger();
  EXPECT_EQ(form.ConfigurationForm(), dialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->SenseTime->value(), 15);

  // The user's choice of "10 секунд" reaches the monitor's poll timer.
  dialog->Interval->setCurrentIndex(1);
  EXPECT_EQ(store.ReadInteger(kSettings, kInterval, 0), 10);
  EXPECT_EQ(form.Core().UpdateTimer().Interval(), 10000);
  EXPECT_TRUE(form.Core().UpdateTimer().Enabled());
  form.CloseMenuClick();
}

}  // namespace
}  // namespace qelta
