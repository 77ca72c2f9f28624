#include "platform/logind_power_control.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <ostream>
#include <string>
#include <vector>

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

// Collects the outcomes handed to the power-off requests' completion functions.
struct Outcomes {
  std::vector<PowerOffOutcome> got;
  PowerControl::Done Record() {
    return [this](const PowerOffOutcome& outcome) { got.push_back(outcome); };
  }
};

class LogindPowerControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    record_ = dir_.filePath("logind-calls.txt");
  }

  void StartStandIn(const QString& answer, const QStringList& options = {}) {
    ASSERT_TRUE(standin_.Start(QStringList{"--logind-standin", answer, record_} + options));
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

// ---- the power-off is asked for whatever the check answered; logind decides ----

struct Case {
  const char* answer;
  Permission permission;
  bool accepted;
  const char* reason;  // logind's words when refused
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.answer;
}

class AnswerTest : public LogindPowerControlTest, public ::testing::WithParamInterface<Case> {};

TEST_P(AnswerTest, PowerOffFollowsTheCheckWithoutInteractionAndReportsLogindsDecision) {
  const Case& c = GetParam();
  StartStandIn(c.answer);
  // A short time-out for the stand-in that never answers the check.
  LogindPowerControl control(QDBusConnection::systemBus(), 500);
  QSignalSpy checked(&control, &LogindPowerControl::PermissionChecked);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  // The order of the battery countdown's end: privilege, then power-off, right after each other,
  // so the power-off is asked for while the check is still under way.
  control.EnableShutdownPrivilege();
  control.PowerOff(outcomes.Record());
  EXPECT_EQ(control.LastPermission(), Permission::Pending);

  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(checked.count(), 1);
  EXPECT_EQ(control.LastPermission(), c.permission);
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
  ASSERT_EQ(outcomes.got.size(), 1u);
  EXPECT_EQ(outcomes.got[0].accepted, c.accepted);
  EXPECT_EQ(outcomes.got[0].reason, c.reason);
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest,
                         ::testing::Values(Case{"yes", Permission::Yes, true, ""},
                                           Case{"challenge", Permission::Challenge, false,
                                                "Interactive authentication required."},
                                           Case{"no", Permission::No, false, "Permission denied"},
                                           Case{"na", Permission::NotAvailable, true, ""},
                                           Case{"error", Permission::Failed, true, ""},
                                           Case{"silent", Permission::Failed, true, ""}),
                         [](const auto& info) { return std::string(info.param.answer); });

// Another user's program holds a shutdown "block" lock, which this user may not ignore without
// an administrator: logind answers "challenge" and refuses the power-off without interaction.
TEST_F(LogindPowerControlTest, ABlockLockHeldByAnotherProgramRefusesThePowerOff) {
  StartStandIn("yes", {"block-lock"});
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  control.EnableShutdownPrivilege();
  control.PowerOff(outcomes.Record());
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(control.LastPermission(), Permission::Challenge);
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
  ASSERT_EQ(outcomes.got.size(), 1u);
  EXPECT_FALSE(outcomes.got[0].accepted);
  EXPECT_EQ(outcomes.got[0].reason, "Interactive authentication required.");
}

TEST_F(LogindPowerControlTest, PowerOffAfterAFinishedCheckIsSentAtOnce) {
  StartStandIn("yes");
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy checked(&control, &LogindPowerControl::PermissionChecked);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  control.EnableShutdownPrivilege();
  ASSERT_TRUE(checked.wait(kWaitMs));
  EXPECT_EQ(control.LastPermission(), Permission::Yes);
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), QStringList{kCanPowerOff});  // the check alone powers nothing off

  control.PowerOff(outcomes.Record());
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
  ASSERT_EQ(outcomes.got.size(), 1u);
  EXPECT_TRUE(outcomes.got[0].accepted);
  EXPECT_EQ(outcomes.got[0].reason, "");
}

TEST_F(LogindPowerControlTest, PowerOffWithoutAnEarlierCheckChecksFirst) {
  StartStandIn("yes");
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  control.PowerOff(outcomes.Record());
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
  EXPECT_EQ(outcomes.got.size(), 1u);
}

TEST_F(LogindPowerControlTest, ARepeatedCheckStillLeadsToOnePowerOff) {
  StartStandIn("yes");
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy requested(&control, &LogindPowerControl::PowerOffRequested);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  control.EnableShutdownPrivilege();
  control.PowerOff(outcomes.Record());
  // A check that supersedes the one the power-off waits for: the power-off waits for it.
  control.EnableShutdownPrivilege();
  ASSERT_TRUE(finished.wait(kWaitMs));
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kCanPowerOff, kPowerOffNonInteractive}));
  EXPECT_EQ(requested.count(), 1);
  EXPECT_EQ(outcomes.got.size(), 1u);
}

TEST_F(LogindPowerControlTest, ARefusedPowerOffIsReportedAndTheControlStaysUsable) {
  StartStandIn("yes", {"refuse-power-off"});
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  control.EnableShutdownPrivilege();
  control.PowerOff(outcomes.Record());
  ASSERT_TRUE(finished.wait(kWaitMs));
  SyncWithStandIn();
  // No retry and nothing else after the refusal.
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive}));
  ASSERT_EQ(outcomes.got.size(), 1u);
  EXPECT_FALSE(outcomes.got[0].accepted);
  EXPECT_EQ(outcomes.got[0].reason, "Power-off refused by the stand-in");

  // A later battery period tries again.
  control.EnableShutdownPrivilege();
  control.PowerOff(outcomes.Record());
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(RecordedCalls(), (QStringList{kCanPowerOff, kPowerOffNonInteractive, kCanPowerOff,
                                          kPowerOffNonInteractive}));
  EXPECT_EQ(outcomes.got.size(), 2u);
}

// ---- no logind, no bus ----

TEST_F(LogindPowerControlTest, WithoutLogindOnTheBusTheFailureIsReportedAndNothingIsLeftOver) {
  LogindPowerControl control(QDBusConnection::systemBus(), 5000);
  QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
  Outcomes outcomes;

  control.EnableShutdownPrivilege();
  control.PowerOff(outcomes.Record());
  ASSERT_TRUE(finished.wait(kWaitMs));
  EXPECT_EQ(control.LastPermission(), Permission::Failed);
  ASSERT_EQ(outcomes.got.size(), 1u);
  EXPECT_FALSE(outcomes.got[0].accepted);
  // The bus's own words: nobody owns logind's name.
  EXPECT_NE(outcomes.got[0].reason.find("org.freedesktop.login1"), std::string::npos)
      << outcomes.got[0].reason;

  // A logind that appears afterwards receives nothing left over from the failed attempt.
  StartStandIn("yes");
  SyncWithStandIn();
  EXPECT_EQ(RecordedCalls(), QStringList{});
  EXPECT_EQ(outcomes.got.size(), 1u);
}

TEST_F(LogindPowerControlTest, WithoutABusTheFailureIsReportedWithoutHanging) {
  QDBusConnection dead = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=") + dir_.filePath("no-such-bus"), QStringLiteral("qelta-no-bus"));
  ASSERT_FALSE(dead.isConnected());
  {
    LogindPowerControl control(dead, 5000);
    QSignalSpy finished(&control, &LogindPowerControl::PowerOffFinished);
    Outcomes outcomes;

    control.EnableShutdownPrivilege();
    control.PowerOff(outcomes.Record());
    ASSERT_TRUE(finished.wait(kWaitMs));
    EXPECT_EQ(control.LastPermission(), Permission::Failed);
    ASSERT_EQ(outcomes.got.size(), 1u);
    EXPECT_FALSE(outcomes.got[0].accepted);
    EXPECT_FALSE(outcomes.got[0].reason.empty());
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("qelta-no-bus"));
}

// A control destroyed with a request under way never calls its completion function.
TEST_F(LogindPowerControlTest, ARequestOutlivedByItsControlIsDropped) {
  StartStandIn("yes");
  Outcomes outcomes;
  {
    LogindPowerControl control(QDBusConnection::systemBus(), 5000);
    control.EnableShutdownPrivilege();
    control.PowerOff(outcomes.Record());
  }
  SyncWithStandIn();
  QCoreApplication::processEvents();
  EXPECT_TRUE(outcomes.got.empty());
}

}  // namespace
}  // namespace qelta
