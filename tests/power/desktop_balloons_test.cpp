#include "platform/desktop_balloons.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include "private_bus.h"
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

// Runs the event loop until `done` holds (true) or the wait runs out (false).
template <typename Condition>
bool WaitFor(Condition done) {
  return QTest::qWaitFor(done, kWaitMs);
}

bool NotificationServiceOwned() {
  return QDBusConnection::sessionBus().interface()->isServiceRegistered(
      DesktopNotificationBalloons::kService);
}

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// A recorder in this process on a connection of its own, so the balloons' calls travel over the
// bus like any other client's.
class InProcessRecorder {
 public:
  InProcessRecorder() {
    QDBusConnection bus = QDBusConnection::connectToBus(
        QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), kConnection);
    ready_ = bus.isConnected() &&
             bus.registerObject(DesktopNotificationBalloons::kPath, &recorder,
                                testing::kNotificationRecorderExports) &&
             bus.registerService(DesktopNotificationBalloons::kService);
  }
  ~InProcessRecorder() {
    QDBusConnection(kConnection).unregisterService(DesktopNotificationBalloons::kService);
    QDBusConnection::disconnectFromBus(kConnection);
  }

  bool Ready() const { return ready_; }

  // Returns once this process has handled every answer that the recorder gave before, and the
  // recorder every call that this process sent in turn (a close): the answer to one more call
  // comes after those on the same connections.
  [[nodiscard]] bool SettleAnswers() {
    for (int round = 0; round < 2; ++round) {
      const QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(
          QDBusMessage::createMethodCall(
              DesktopNotificationBalloons::kService, DesktopNotificationBalloons::kPath,
              DesktopNotificationBalloons::kService, "GetServerInformation"),
          kWaitMs);
      if (!WaitFor([&] { return call.isFinished(); })) return false;
      QCoreApplication::sendPostedEvents();
    }
    return true;
  }

  // The one notification on screen with this title; null when there is none or more than one.
  const testing::NotifyCall* OnScreen(const QString& title, uint* id = nullptr) const {
    const testing::NotifyCall* found = nullptr;
    for (auto it = recorder.OnScreen().begin(); it != recorder.OnScreen().end(); ++it) {
      if (it->summary != title) continue;
      if (found != nullptr) return nullptr;
      found = &it.value();
      if (id != nullptr) *id = it.key();
    }
    return found;
  }

  NotificationRecorder recorder;

 private:
  static inline const QString kConnection = QStringLiteral("qelta-notification-recorder");
  bool ready_ = false;
};

TEST(DesktopNotificationBalloonsTest, NotifyCarriesTheBalloon) {
  InProcessRecorder service;
  ASSERT_TRUE(service.Ready());
  const NotificationRecorder& recorder = service.recorder;

  DesktopNotificationBalloons balloons(QDBusConnection::sessionBus());
  balloons.ShowBalloon("Завершение работы",
                       "Сейчас произойдет форсированное завершение работы системы.",
                       BalloonIcon::Error, 5000);
  balloons.ShowBalloon("Доп. звук. оповещение UPS", "Дополнительное звуковое оповещение включено.",
                       BalloonIcon::Information, 5000);
  balloons.ShowBalloon("Компьютер НЕ выключен!", "Причина: Permission denied", BalloonIcon::Error,
                       kBalloonStaysUntilClosed);
  ASSERT_TRUE(WaitFor([&] { return recorder.Calls().size() == 3; }));

  const testing::NotifyCall& error = recorder.Calls()[0];
  EXPECT_EQ(error.app_name, "QELTA MONITOR");
  EXPECT_EQ(error.replaces_id, 0u);
  EXPECT_EQ(error.app_icon, "dialog-error");
  EXPECT_EQ(error.summary, "Завершение работы");
  EXPECT_EQ(error.body, "Сейчас произойдет форсированное завершение работы системы.");
  EXPECT_TRUE(error.actions.isEmpty());
  EXPECT_EQ(error.expire_timeout, 5000);
  ASSERT_TRUE(error.hints.contains("urgency"));
  // The notification protocol defines the urgency as a byte. Normal, not critical (2), even
  // for an error: desktops never expire critical notifications.
  EXPECT_EQ(error.hints["urgency"].typeId(), QMetaType::UChar);
  EXPECT_EQ(error.hints["urgency"].value<uchar>(), 1);

  const testing::NotifyCall& info = recorder.Calls()[1];
  EXPECT_EQ(info.app_icon, "dialog-information");
  EXPECT_EQ(info.summary, "Доп. звук. оповещение UPS");
  EXPECT_EQ(info.body, "Дополнительное звуковое оповещение включено.");
  EXPECT_EQ(info.replaces_id, 0u);
  EXPECT_EQ(info.expire_timeout, 5000);
  EXPECT_EQ(info.hints["urgency"].value<uchar>(), 1);

  // The one balloon that must not be missed: critical, and it never expires by itself.
  const testing::NotifyCall& stays = recorder.Calls()[2];
  EXPECT_EQ(stays.app_icon, "dialog-error");
  EXPECT_EQ(stays.expire_timeout, 0);
  EXPECT_EQ(stays.hints["urgency"].typeId(), QMetaType::UChar);
  EXPECT_EQ(stays.hints["urgency"].value<uchar>(), 2);
}

// An hour on battery sends a reminder every 10 s and a state balloon at every change; the
// desktop must end up with one notification of each, the newest, not hundreds.
TEST(DesktopNotificationBalloonsTest, EachBalloonReplacesTheOneBeforeWithItsTitle) {
  InProcessRecorder service;
  ASSERT_TRUE(service.Ready());
  const NotificationRecorder& recorder = service.recorder;
  const QString reminder = "Внимание! Питание от батареи UPS.";
  const QString state = "Состояние UPS";
  DesktopNotificationBalloons balloons(QDBusConnection::sessionBus());

  uint reminder_id = 0;
  uint state_id = 0;
  int sent = 0;
  for (int i = 0; i < 12; ++i) {
    if (i % 4 == 0) {
      // The state changes now and then: battery (an error), mains, battery...
      const bool battery = i % 8 == 0;
      balloons.ShowBalloon(state,
                           battery ? "Нагрузка запитана от батареи." : "Нагрузка запитана от сети.",
                           battery ? BalloonIcon::Error : BalloonIcon::Information, 5000);
      ++sent;
    }
    balloons.ShowBalloon(reminder, "Заряд батареи: " + QString::number(90 - i) + "%",
                         BalloonIcon::Information, 5000);
    ++sent;
    ASSERT_TRUE(WaitFor([&] { return recorder.Calls().size() == sent; }));
    ASSERT_TRUE(service.SettleAnswers());

    // One of each title on screen, the newest, under the id it had from the start.
    uint id = 0;
    const testing::NotifyCall* shown = service.OnScreen(reminder, &id);
    ASSERT_NE(shown, nullptr) << i;
    EXPECT_EQ(shown->body, "Заряд батареи: " + QString::number(90 - i) + "%");
    if (i == 0) reminder_id = id;
    EXPECT_EQ(id, reminder_id);
    ASSERT_NE(service.OnScreen(state, &id), nullptr) << i;
    if (i == 0) state_id = id;
    EXPECT_EQ(id, state_id);
    EXPECT_EQ(recorder.OnScreen().size(), 2);
  }
  EXPECT_EQ(service.OnScreen(state)->body, "Нагрузка запитана от батареи.");
  EXPECT_EQ(service.OnScreen(state)->app_icon, "dialog-error");
  // Every call after the first of its title named the one to replace.
  for (const testing::NotifyCall& call : recorder.Calls()) {
    const uint first = call.summary == reminder ? reminder_id : state_id;
    if (&call == &recorder.Calls()[0] || &call == &recorder.Calls()[1]) {
      EXPECT_EQ(call.replaces_id, 0u);
    } else {
      EXPECT_EQ(call.replaces_id, first) << call.body.toStdString();
    }
  }

  // Another title stands beside them; and each notification goes at its time-out.
  balloons.ShowBalloon("Тестирование UPS", "Невозможно начать тестирование UPS.",
                       BalloonIcon::Error, 300);
  ASSERT_TRUE(WaitFor([&] { return recorder.OnScreen().size() == 3; }));
  ASSERT_TRUE(WaitFor([&] { return recorder.OnScreen().size() == 2; }));
  EXPECT_EQ(service.OnScreen("Тестирование UPS"), nullptr);
}

// Balloons sent faster than the service answers cannot name the one before: those that end up
// beside a newer one with their title are closed, so one stays.
TEST(DesktopNotificationBalloonsTest, ABurstLeavesOneNotificationPerTitle) {
  InProcessRecorder service;
  ASSERT_TRUE(service.Ready());
  const NotificationRecorder& recorder = service.recorder;
  const QString reminder = "Внимание! Питание от батареи UPS.";
  DesktopNotificationBalloons balloons(QDBusConnection::sessionBus());

  // Ten at once before any answer: ten notifications at first, the newest stays.
  for (int i = 1; i <= 10; ++i) {
    balloons.ShowBalloon(reminder, QString::number(i), BalloonIcon::Information, 5000);
  }
  ASSERT_TRUE(WaitFor([&] { return recorder.Calls().size() == 10; }));
  for (const testing::NotifyCall& call : recorder.Calls()) EXPECT_EQ(call.replaces_id, 0u);
  ASSERT_TRUE(service.SettleAnswers());
  EXPECT_EQ(recorder.OnScreen().size(), 1);
  uint id = 0;
  ASSERT_NE(service.OnScreen(reminder, &id), nullptr);
  EXPECT_EQ(service.OnScreen(reminder)->body, "10");

  // Ten more at once: each replaces the one that stayed; it is still the only one.
  for (int i = 11; i <= 20; ++i) {
    balloons.ShowBalloon(reminder, QString::number(i), BalloonIcon::Information, 5000);
  }
  ASSERT_TRUE(WaitFor([&] { return recorder.Calls().size() == 20; }));
  ASSERT_TRUE(service.SettleAnswers());
  for (const testing::NotifyCall& call : recorder.Calls().mid(10)) {
    EXPECT_EQ(call.replaces_id, id);
  }
  EXPECT_EQ(recorder.OnScreen().size(), 1);
  uint last_id = 0;
  ASSERT_NE(service.OnScreen(reminder, &last_id), nullptr);
  EXPECT_EQ(last_id, id);
  EXPECT_EQ(service.OnScreen(reminder)->body, "20");
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
                       "Сейчас произойдет форсированное завершение работы системы.",
                       BalloonIcon::Error, 5000);
    ASSERT_TRUE(WaitFor([&] { return ReadLines(record).size() == 2; }));
    EXPECT_EQ(ReadLines(record),
              (QStringList{"Режим работы\tПитание от батареи.\tdialog-information\t5000",
                           "Завершение работы\tСейчас произойдет форсированное завершение "
                           "работы системы.\tdialog-error\t5000"}));
    EXPECT_EQ(tray.shown.size(), 1);
  }

  // The service has gone (once the bus has seen its owner leave): back to the tray.
  ASSERT_TRUE(WaitFor([] { return !NotificationServiceOwned(); }));
  router.ShowBalloon("Режим работы", "Питание от сети.", BalloonIcon::Information, 5000);
  ASSERT_EQ(tray.shown.size(), 2);
  EXPECT_EQ(tray.shown[1].text, "Питание от сети.");
  EXPECT_EQ(tray.shown[1].icon, BalloonIcon::Information);
  EXPECT_EQ(ReadLines(record).size(), 2);
}

// A desktop whose notification service the bus starts at the first notification: nobody owns
// the name until then, yet the balloons go there, not to the tray.
TEST(BalloonRouterTest, ANotificationServiceTheBusCanStartCountsAsPresent) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString record = dir.filePath("notifications.txt");
  ASSERT_TRUE(QDir(dir.path()).mkdir("services"));
  {
    QFile service(dir.filePath("services/org.freedesktop.Notifications.service"));
    ASSERT_TRUE(service.open(QIODevice::WriteOnly));
    service.write("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=" +
                  QFile::encodeName(QCoreApplication::applicationFilePath()) +
                  " --notification-recorder " + QFile::encodeName(record) + "\n");
  }
  testing::PrivateDbusDaemon daemon(QFile::encodeName(dir.filePath("services")).toStdString());
  ASSERT_TRUE(daemon.Running());
  const QString name = QStringLiteral("qelta-activating-bus");
  {
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromStdString(daemon.Address()), name);
    ASSERT_TRUE(bus.isConnected());
    ASSERT_FALSE(bus.interface()->isServiceRegistered(DesktopNotificationBalloons::kService));
    DesktopNotificationBalloons notifications(bus);
    RecordingSink tray;
    BalloonRouter router(notifications, tray, bus);

    EXPECT_TRUE(router.NotificationServicePresent());
    router.ShowBalloon("Состояние UPS", "Появилась связь с UPS.", BalloonIcon::Information, 5000);
    EXPECT_TRUE(tray.shown.isEmpty());
    ASSERT_TRUE(WaitFor([&] { return ReadLines(record).size() == 1; }));
    EXPECT_EQ(ReadLines(record).first(),
              "Состояние UPS\tПоявилась связь с UPS.\tdialog-information\t5000");
    EXPECT_TRUE(bus.interface()->isServiceRegistered(DesktopNotificationBalloons::kService));
  }
  QDBusConnection::disconnectFromBus(name);
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
