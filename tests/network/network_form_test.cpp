// The "Сеть" dialog: what it shows from the settings and what its controls store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include "network/network_config.h"
#include "network/qwatch_network.h"
#include "settings/memory_settings.h"

namespace qelta {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_network";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

template <typename W>
W* Find(QWidget& form, const char* name) {
  W* widget = form.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(widget, nullptr) << name;
  if (widget != nullptr) {
    EXPECT_FALSE(widget->accessibleName().isEmpty()) << name;
  }
  return widget;
}

TEST(NetworkFormTest, ShowsTheSettingsStoresUsersAndWarnsBeyondLoopbackWithoutPassword) {
  App();
  MemorySettings settings;
  settings.WriteString(kNetworkSection, "Listen", "0.0.0.0");
  settings.WriteInteger(kNetworkSection, "Port", 3500);
  int applied = 0;
  TNetworkForm form(
      settings, [&] { ++applied; }, [](const std::function<void()>& handler) { handler(); });
  form.FormCreate();
  form.show();

  EXPECT_TRUE(Find<QCheckBox>(form, "Serve")->isChecked());
  EXPECT_EQ(Find<QSpinBox>(form, "Port")->value(), 3500);
  EXPECT_EQ(Find<QSpinBox>(form, "SecondaryWait")->value(), 15);
  QLabel* client = Find<QLabel>(form, "ClientLine");
  EXPECT_TRUE(client->text().contains(QStringLiteral(":3500")));
  QLabel* warning = Find<QLabel>(form, "Warning");
  EXPECT_TRUE(warning->isVisible()) << "no user at all on 0.0.0.0";

  // A user with a password and both rights; the warning goes.
  Find<QLineEdit>(form, "UserName")->setText(QStringLiteral("nas"));
  Find<QLineEdit>(form, "UserPassword")->setText(QStringLiteral("p w\"1"));
  Find<QCheckBox>(form, "UserInstcmds")->setChecked(true);
  Find<QPushButton>(form, "SaveUser")->click();
  const ServedConfig served = ReadServedConfig(settings);
  ASSERT_EQ(served.users.size(), 1u);
  EXPECT_EQ(served.users[0].name, "nas");
  EXPECT_EQ(served.users[0].password, "p w\"1");
  EXPECT_TRUE(served.users[0].secondary);
  EXPECT_TRUE(served.users[0].instcmds);
  EXPECT_EQ(Find<QListWidget>(form, "Users")->count(), 1);
  EXPECT_FALSE(warning->isVisible());
  EXPECT_GE(applied, 1);
  // With QELTA_SCREENSHOT_DIR set, the dialog as it stands is saved there.
  const QByteArray folder = qgetenv("QELTA_SCREENSHOT_DIR");
  if (!folder.isEmpty()) {
    EXPECT_TRUE(form.grab().save(QString::fromLocal8Bit(folder) + "/network-dialog.png"));
  }
  // Saving again with an empty password field keeps the password.
  Find<QCheckBox>(form, "UserInstcmds")->setChecked(false);
  Find<QPushButton>(form, "SaveUser")->click();
  EXPECT_EQ(ReadServedConfig(settings).users[0].password, "p w\"1");
  EXPECT_FALSE(ReadServedConfig(settings).users[0].instcmds);
  // A name the protocol cannot carry is refused.
  Find<QLineEdit>(form, "UserName")->setText(QStringLiteral("a b"));
  Find<QPushButton>(form, "SaveUser")->click();
  EXPECT_EQ(ReadServedConfig(settings).users.size(), 1u);

  Find<QLineEdit>(form, "UserName")->setText(QStringLiteral("nas"));
  Find<QPushButton>(form, "RemoveUser")->click();
  EXPECT_TRUE(ReadServedConfig(settings).users.empty());
  EXPECT_FALSE(settings.Has(kNetworkSection, "User.nas.Password"));
  EXPECT_TRUE(warning->isVisible());

  Find<QCheckBox>(form, "Serve")->click();
  EXPECT_FALSE(ReadListenConfig(settings).serve);
}

}  // namespace
}  // namespace qelta
