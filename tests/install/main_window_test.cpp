// The welcome and About windows of a real main window (offscreen, private folders, no UPS).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>

#include "install/qwatch_about.h"
#include "install/qwatch_welcome.h"
#include "monitor/qwatch_main.h"
#include "settings/qwatch_config.h"
#include "test_application.h"

namespace qelta {
namespace {

using testing::App;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(home.isValid());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
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
  static QAction* Item(TMainForm& form, const char* caption) {
    for (QAction* action : form.Menu()->actions()) {
      if (action->text() == QString::fromUtf8(caption)) return action;
    }
    return nullptr;
  }

  QTemporaryDir home;
};

TEST_F(MainWindowTest, WelcomeOnlyForTheExactArgumentAndItsSetupOpensTheConfiguration) {
  for (const char* argument : {"/WELCOME", "/welcome "}) {
    TMainForm form({argument});
    form.CreateInfoForm();
    ASSERT_FALSE(form.TerminationRequested());
    EXPECT_EQ(form.WelcomeForm(), nullptr) << argument;
    form.CloseMenuClick();
  }

  TMainForm form({"/welcome"});
  form.CreateInfoForm();
  TWelcomeForm* welcome = form.WelcomeForm();
  ASSERT_NE(welcome, nullptr);
  EXPECT_TRUE(welcome->isVisible());
  EXPECT_EQ(form.ConfigurationForm(), nullptr);
  welcome->SetupButton->click();
  ASSERT_NE(form.ConfigurationForm(), nullptr);
  EXPECT_TRUE(form.ConfigurationForm()->isVisible());
  EXPECT_FALSE(welcome->isVisible());
  form.CloseMenuClick();
}

TEST_F(MainWindowTest, AboutIsForgottenByItsOwnButtonAndKeptByTheCloseBox) {
  TMainForm form({});
  form.CreateInfoForm();
  QAction* about = Item(form, "&О программе");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(form.AboutForm(), nullptr);

  about->trigger();
  QPointer<TAboutForm> first = form.AboutForm();
  ASSERT_FALSE(first.isNull());
  EXPECT_TRUE(first->isVisible());
  EXPECT_EQ(first->Label1->text(), QString::fromUtf8("QELTA UPS MONITOR версия 0.99.6"));

  // The close box: hidden, and the same window comes back.
  first->close();
  EXPECT_FALSE(first->isVisible());
  about->trigger();
  EXPECT_EQ(form.AboutForm(), first.data());
  EXPECT_TRUE(first->isVisible());

  // "&Закрыть": forgotten and gone; the next request makes a new window.
  first->Button1->click();
  EXPECT_EQ(form.AboutForm(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(first.isNull());
  about->trigger();
  ASSERT_NE(form.AboutForm(), nullptr);
  EXPECT_TRUE(form.AboutForm()->isVisible());
  EXPECT_EQ(form.AboutForm()->Label1->text(), QString::fromUtf8("QELTA UPS MONITOR версия 0.99.6"));
  form.CloseMenuClick();
}

}  // namespace
}  // namespace qelta
