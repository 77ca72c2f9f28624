// The combined stand-ins (notification service and logind in one process, one record file).
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFile>
#include <QTemporaryDir>
#include <QVariantMap>

#include "standins.h"
#include "test_environment.h"

namespace qelta::testing {
namespace {

constexpr int kWaitMs = 15000;
const QString kCanPowerOff = QStringLiteral("org.freedesktop.login1.Manager.CanPowerOff");

QDBusMessage NotifyMessage(const QString& summary) {
  QDBusMessage message = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                        "/org/freedesktop/Notifications",
                                                        "org.freedesktop.Notifications", "Notify");
  message << QStringLiteral("test") << 0u << QStringLiteral("dialog-error") << summary
          << QStringLiteral("body") << QStringList() << QVariantMap() << 5000;
  return message;
}

QDBusMessage LogindMessage(const QString& member) {
  return QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                        "org.freedesktop.login1.Manager", member);
}

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// A client that sends a Notify and at once, without waiting, a logind call on the other bus finds
// both in the log in that order, every time; the logind calls are still answered.
TEST(DesktopStandInsTest, LogOneClientsBalloonsAndPowerCallsInTheOrderItSentThem) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString record = dir.filePath("log.txt");
  StandInProcess standins;
  ASSERT_TRUE(standins.Start({"--desktop-standins", "yes", record}));

  constexpr int kRounds = 20;
  QList<QDBusPendingCall> notifies;
  QList<QDBusPendingCall> checks;
  for (int i = 0; i < kRounds; ++i) {
    notifies << QDBusConnection::sessionBus().asyncCall(NotifyMessage(QString::number(i)), kWaitMs);
    checks << QDBusConnection::systemBus().asyncCall(LogindMessage("CanPowerOff"), kWaitMs);
  }
  for (QDBusPendingCall& call : notifies) call.waitForFinished();
  for (QDBusPendingCall& call : checks) {
    call.waitForFinished();
    const QDBusMessage reply = call.reply();
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().value(0).toString(), "yes");
  }
  QDBusMessage power_off = LogindMessage("PowerOff");
  power_off << false;
  const QDBusMessage answered = QDBusConnection::systemBus().call(power_off, QDBus::Block, kWaitMs);
  EXPECT_EQ(answered.type(), QDBusMessage::ReplyMessage);

  const QStringList lines = ReadLines(record);
  ASSERT_EQ(lines.size(), 2 * kRounds + 1) << lines.join('\n').toStdString();
  // The Notify calls in order, each logged before the logind call sent after it; the logind
  // calls in order, the power-off last.
  const std::string log = lines.join('\n').toStdString();
  int next_notify = 0;
  int checks_seen = 0;
  for (const QString& line : lines.mid(0, 2 * kRounds)) {
    if (line == kCanPowerOff) {
      ++checks_seen;
      ASSERT_LE(checks_seen, next_notify) << log;
    } else {
      ASSERT_EQ(line.section('\t', 0, 0).toStdString(), std::to_string(next_notify)) << log;
      ++next_notify;
    }
  }
  EXPECT_EQ(next_notify, kRounds);
  EXPECT_EQ(lines.last(), "org.freedesktop.login1.Manager.PowerOff b false");
}

}  // namespace
}  // namespace qelta::testing
