#include "platform/logind_power_control.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "standins.h"
#include "test_environment.h"

namespace qelta {
namespace {

using Permission = LogindPowerControl::Permission;
using testing::StandInProcess;

const QString kCanPowerOff = QStringLiteral("org.freedesktop.login1.Manager.CanPowerOff");
const QString kPowerOffNonInteractive =
    QStringLiteral("org.freedesktop.login1.Manager.PowerOff b false");

// Long enough for any answer on a loaded machine; the tests never wait for it unless it fails.
constexpr int kWaitMs = 15000;

class LogindPowerControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    record_ = dir_.filePath("logind-calls.txt");
  }

  void StartStandIn(const QString& answer, bool refuse_power_off = false) {
    QStringList arguments{"--logind-standin", answer, record_};
    if (refuse_power_off) arguments << "refuse-power-off";
    ASSERT_TRUE(standin_.Start(arguments));
  }

  // Every call this process sent the stand-in before has been handled once this returns.
  void SyncWithStandIn() {
    const QDBusMessage reply = QDBusConnection::systemBus().call(
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       testing::kStandInTestInterface, "Sync"),
        QDBus::Block, kWaitMs);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  }

  QStringList RecordedCalls() const {
    QFile file(record_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  QTemporaryDir dir_;
  QString record_;
  StandInProcess standin_;
};

// ---- logind allows the power-off ----

class AllowedAnswerTest : public LogindPowerControlTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(AllowedAnswerTest, PowerOffFollowsTheCheckWithoutInteraction) {
  StartStandIn(GetParam());
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);

  // The order of the battery countdown's end: privilege, then power-off, right after each other,
  // so the power-off is asked for while the check is still under way.
  control.EnableShutdownPrivilege();
  control.PowerOff();
  EXPECT_EQ(control.LastPermission(), Permission::Pending);

  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
  EXPECT_EQ(finished.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, AllowedAnswerTest, ::testing::Values("yes", "challenge"));

TEST_F(LogindPowerControlTest, PowerOffAfterAFinishedCheckIsSentAtOnce) {
  StartStandIn("yes");
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy checked(&control, &LogindPowerControl::PermissionChecked);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);

  control.EnableShutdownPrivilege();
  ASSERT_TRUE(checked.wait(kWaitMs));
  EXPECT_EQ(control.LastPermission(), Permission::Yes);
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), QStringList{kCanPowerOff});  // the check alone powers nothing off

  control.PowerOff();
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
}

TEST_F(LogindPowerControlTest, PowerOffWithoutAnEarlierCheckChecksFirst) {
  StartStandIn("yes");
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);

  control.PowerOff();
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
}

TEST_F(LogindPowerControlTest, ARepeatedCheckStillLeadsToOnePowerOff) {
  StartStandIn("yes");
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy requested(&control, &LogindPowerControl::PowerOffRequested);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);

  control.EnableShutdownPrivilege();
  control.EnableShutdownPrivilege();
  control.PowerOff();
  ASSERT_TRUE(finished.wait(kWaitMs));
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kCanPowerOff, kPowerOffNonInteractive}));
  EXPECT_EQ(requested.count(), 1);
}

TEST_F(LogindPowerControlTest, ARefusedPowerOffLeavesTheControlUsable) {
  StartStandIn("yes", /*refuse_power_off=*/true);
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);

  control.EnableShutdownPrivilege();
  control.PowerOff();
  ASSERT_TRUE(finished.wait(kWaitMs));
  SyncWithStandIn();
  // No retry and nothing else after the refusal.
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));

  // A later battery period tries again.
  control.EnableShutdownPrivilege();
  control.PowerOff();
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive, kCanPowerOff,
                                          kPowerOffNonInteractive}));
}

// ---- logind refuses, fails or does not answer ----

struct Refusal {
  const char* answer;
  Permission permission;
};

class RefusedAnswerTest : public LogindPowerControlTest,
                          public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedAnswerTest, NoPowerOffIsRequested) {
  StartStandIn(GetParam().answer);
  // A short time-out for the stand-in that never answers.
  LogindPowerControl control(QDBusConnection::systemBus(), 500);
  QSignalSpy checked(&control, &LogindPowerControl::PermissionChecked);
  QSignalSpy requested(&control, &LogindPowerControl::PowerOffRequested);

  control.EnableShutdownPrivilege();
  control.PowerOff();
  ASSERT_TRUE(checked.wait(kWaitMs));
  EXPECT_EQ(control.LastPermission(), GetParam().permission);

  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), QStringList{kCanPowerOff});
  EXPECT_EQ(requested.count(), 0);

  // A power-off asked for again within the same answer is still not sent.
  control.PowerOff();
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), QStringList{kCanPowerOff});
}

INSTANTIATE_TEST_SUITE_P(Answers, RefusedAnswerTest,
                         ::testing::Values(Refusal{"no", Permission::No},
                                           Refusal{"na", Permission::NotAvailable},
                                           Refusal{"error", Permission::Failed},
                                           Refusal{"silent", Permission::Failed}),
                         [](const auto& info) { return std::string(info.param.answer); });

TEST_F(LogindPowerControlTest, WithoutLogindOnTheBusNothingHangsAndNothingIsSent) {
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy checked(&control, &LogindPowerControl::PermissionChecked);
  QSignalSpy requested(&control, &LogindPowerControl::PowerOffRequested);

  control.EnableShutdownPrivilege();
  control.PowerOff();
  ASSERT_TRUE(checked.wait(kWaitMs));
  EXPECT_EQ(control.LastPermission(), Permission::Failed);
  EXPECT_EQ(requested.count(), 0);

  // A logind that appears afterwards receives nothing left over from the failed attempt.
  StartStandIn("yes");
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), QStringList{});
}

TEST_F(LogindPowerControlTest, WithoutABusTheCheckFailsWithoutHanging) {
  QDBusConnection dead = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=") + dir_.filePath("no-such-bus"), QStringLiteral("qelta-no-bus"));
  ASSERT_FALSE(dead.isConnected());
  {
    LogindPowerControl control(dead, 5000);
    QSignalSpy checked(&control, &LogindPowerControl::PermissionChecked);
    QSignalSpy requested(&control, &LogindPowerControl::PowerOffRequested);

    control.EnableShutdownPrivilege();
    control.PowerOff();
    ASSERT_TRUE(checked.wait(kWaitMs));
    EXPECT_EQ(control.LastPermission(), Permission::Failed);
    EXPECT_EQ(requested.count(), 0);
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("qelta-no-bus"));
}

}  // namespace
}  // namespace qelta
