#include "platform/desktop_balloons.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include "standins.h"
#include "test_environment.h"

namespace qelta {
namespace {

using testing::NotificationRecorder;
using testing::StandInProcess;

constexpr int kWaitMs = 15000;

struct Shown {
  QString title;
  QString text;
  BalloonIcon icon;
  int timeout_ms;
};

// Records the balloons it gets and passes them on to another sink, if any.
class RecordingSink : public BalloonSink {
 public:
  explicit RecordingSink(BalloonSink* next = nullptr) : next_(next) {}
  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override {
    shown.append({title, text, icon, timeout_ms});
    if (next_ != nullptr) next_->ShowBalloon(title, text, icon, timeout_ms);
  }
  QList<Shown> shown;

 private:
  BalloonSink* next_;
};

bool NotificationServiceOwned() {
  return QDBusConnection::sessionBus().interface()->isServiceRegistered(
      DesktopNotificationBalloons::kService);
}

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The recorder runs in this process on a connection of its own, so the balloons' calls travel
// over the bus like any other client's.
TEST(DesktopNotificationBalloonsTest, NotifyCarriesTheBalloon) {
  const QString recorder_connection = QStringLiteral("qelta-notification-recorder");
  {
    QDBusConnection bus = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), recorder_connection);
    ASSERT_TRUE(bus.isConnected());
    NotificationRecorder recorder;
    ASSERT_TRUE(bus.registerObject(DesktopNotificationBalloons::kPath, &recorder,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService(DesktopNotificationBalloons::kService));

    DesktopNotificationBalloons balloons(QDBusConnection::sessionBus());
    balloons.ShowBalloon("Завершение работы",
                         "Сейчас произойдет форсированное завершение работы Windows.",
                         BalloonIcon::Error, 5000);
    balloons.ShowBalloon("Доп. звук. оповещение UPS",
                         "Дополнительное звуковое оповещение включено.", BalloonIcon::Information,
                         5000);
    QTRY_COMPARE_WITH_TIMEOUT(recorder.Calls().size(), 2, kWaitMs);

    const testing::NotifyCall& error = recorder.Calls()[0];
    EXPECT_EQ(error.app_name, "QELTA MONITOR");
    EXPECT_EQ(error.replaces_id, 0u);
    EXPECT_EQ(error.app_icon, "dialog-error");
    EXPECT_EQ(error.summary, "Завершение работы");
    EXPECT_EQ(error.body, "Сейчас произойдет форсированное завершение работы Windows.");
    EXPECT_TRUE(error.actions.isEmpty());
    EXPECT_EQ(error.expire_timeout, 5000);
    ASSERT_TRUE(error.hints.contains("urgency"));
    // The notification protocol defines the urgency as a byte.
    EXPECT_EQ(error.hints["urgency"].typeId(), QMetaType::UChar);
    EXPECT_EQ(error.hints["urgency"].value<uchar>(), 2);

    const testing::NotifyCall& info = recorder.Calls()[1];
    EXPECT_EQ(info.app_icon, "dialog-information");
    EXPECT_EQ(info.summary, "Доп. звук. оповещение UPS");
    EXPECT_EQ(info.body, "Дополнительное звуковое оповещение включено.");
    EXPECT_EQ(info.replaces_id, 0u);
    EXPECT_EQ(info.expire_timeout, 5000);
    EXPECT_EQ(info.hints["urgency"].value<uchar>(), 1);

    bus.unregisterService(DesktopNotificationBalloons::kService);
  }
  QDBusConnection::disconnectFromBus(recorder_connection);
}

TEST(BalloonRouterTest, FollowsTheNotificationServiceAsItComesAndGoes) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString record = dir.filePath("notifications.txt");
  DesktopNotificationBalloons notifications(QDBusConnection::sessionBus());
  // The tray side ends in a real (offscreen) tray icon, which must take the balloons as well.
  QPixmap bolt(16, 16);
  bolt.fill(Qt::yellow);
  QSystemTrayIcon icon{QIcon(bolt)};
  icon.show();
  TrayBalloons tray_balloons(&icon);
  RecordingSink tray(&tray_balloons);
  BalloonRouter router(notifications, tray, QDBusConnection::sessionBus());

  // No service on the bus: the tray shows it.
  ASSERT_FALSE(NotificationServiceOwned());
  router.ShowBalloon("Связь с UPS", "Связь с UPS потеряна.", BalloonIcon::Error, 5000);
  ASSERT_EQ(tray.shown.size(), 1);
  EXPECT_EQ(tray.shown[0].title, "Связь с UPS");
  EXPECT_EQ(tray.shown[0].text, "Связь с UPS потеряна.");
  EXPECT_EQ(tray.shown[0].icon, BalloonIcon::Error);
  EXPECT_EQ(tray.shown[0].timeout_ms, 5000);

  // The service starts while the monitor runs: the next balloons go there, in order.
  {
    StandInProcess recorder;
    ASSERT_TRUE(recorder.Start({"--notification-recorder", record}));
    router.ShowBalloon("Режим работы", "Питание от батареи.", BalloonIcon::Information, 5000);
    router.ShowBalloon("Завершение работы",
                       "Сейчас произойдет форсированное завершение работы Windows.",
                       BalloonIcon::Error, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(ReadLines(record).size(), 2, kWaitMs);
    EXPECT_EQ(ReadLines(record),
              (QStringList{"Режим работы\tПитание от батареи.\tdialog-information\t5000",
                           "Завершение работы\tСейчас произойдет форсированное завершение "
                           "работы Windows.\tdialog-error\t5000"}));
    EXPECT_EQ(tray.shown.size(), 1);
  }

  // The service has gone (once the bus has seen its owner leave): back to the tray.
  QTRY_VERIFY_WITH_TIMEOUT(!NotificationServiceOwned(), kWaitMs);
  router.ShowBalloon("Режим работы", "Питание от сети.", BalloonIcon::Information, 5000);
  ASSERT_EQ(tray.shown.size(), 2);
  EXPECT_EQ(tray.shown[1].text, "Питание от сети.");
  EXPECT_EQ(tray.shown[1].icon, BalloonIcon::Information);
  EXPECT_EQ(ReadLines(record).size(), 2);
}

TEST(BalloonRouterTest, WithoutASessionBusTheTrayShowsTheBalloon) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString name = QStringLiteral("qelta-no-session-bus");
  {
    QDBusConnection dead =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=") + dir.filePath("none"), name);
    ASSERT_FALSE(dead.isConnected());
    DesktopNotificationBalloons notifications(dead);
    TrayBalloons no_icon(nullptr);
    RecordingSink tray(&no_icon);
    BalloonRouter router(notifications, tray, dead);
    router.ShowBalloon("Связь с UPS", "Связь с UPS установлена.", BalloonIcon::Information, 5000);
    ASSERT_EQ(tray.shown.size(), 1);
    EXPECT_EQ(tray.shown[0].text, "Связь с UPS установлена.");
  }
  QDBusConnection::disconnectFromBus(name);
}

}  // namespace
}  // namespace qelta
