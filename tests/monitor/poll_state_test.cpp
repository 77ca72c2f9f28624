// The poll's state machine of link and power source, row by row.
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

using PollStateTest = MonitorFixture;

TEST_F(PollStateTest, FirstPollWithoutUpsShowsOnlyTheWelcomeBalloon) {
  link.present = false;
  StartAndPoll();
  EXPECT_EQ(core->LinkState(), 1);
  EXPECT_EQ(core->PowerState(), 0);
  EXPECT_EQ(popup.balloons, std::vector<int>{0});
  EXPECT_TRUE(balloons.shown.empty());
  EXPECT_EQ(tray.icons, std::vector<int>{2});
  EXPECT_TRUE(stats.records.empty());
  EXPECT_FALSE(post->PostNow);
  EXPECT_EQ(popup.refreshes, 1);
}

TEST_F(PollStateTest, FirstPollOnMainsShowsYellowIconRecordsAndRequestsReport) {
  StartAndPoll();
  EXPECT_EQ(core->LinkState(), 2);
  EXPECT_EQ(core->PowerState(), 1);
  EXPECT_EQ(popup.balloons, std::vector<int>{0});
  EXPECT_TRUE(balloons.shown.empty());
  EXPECT_EQ(tray.icons, (std::vector<int>{2, 0}));
  EXPECT_EQ(core->TrayTag(), 0);
  ASSERT_EQ(stats.records.size(), 1u);
  EXPECT_EQ(stats.records[0], core->LastSample());
  EXPECT_TRUE(post->PostNow);
  EXPECT_FALSE(core->WakeUpStatusTimer().Enabled());
}

TEST_F(PollStateTest, FirstPollOnBatteryArmsTheTimeLimitWithoutAModeBalloon) {
  link.OnBattery();
  StartAndPoll();
  EXPECT_EQ(core->PowerState(), 2);
  EXPECT_TRUE(balloons.shown.empty());
  EXPECT_TRUE(core->BatteryStatusChecker().Enabled());
  EXPECT_EQ(core->BatteryStatusChecker().Interval(), 15000);
  EXPECT_TRUE(core->WakeUpStatusTimer().Enabled());
  EXPECT_TRUE(post->PostNow);
}

TEST_F(PollStateTest, StartedOnLowBatteryWithChargeTriggerStartsTheCountdownAtOnce) {
  settings.WriteBool("Sense", "BatteryPercent", true);
  link.OnBattery("8.16");  // 60 % truncated to 59 < 60
  StartAndPoll();
  EXPECT_TRUE(core->ShutdownPending());
  EXPECT_TRUE(core->BatteryShutdownTimer().Enabled());
  EXPECT_EQ(core->BatteryShutdownTimer().Interval(), 60000);
  EXPECT_FALSE(core->PercentCheckArmed());
}

TEST_F(PollStateTest, LostLinkStaysQuietWhileTheUpsStaysAway) {
  link.present = false;
  StartAndPoll();
  Poll();
  Poll();
  EXPECT_EQ(core->LinkState(), 1);
  EXPECT_TRUE(balloons.shown.empty());
  EXPECT_EQ(popup.balloons, std::vector<int>{0});
  EXPECT_EQ(popup.refreshes, 3);
}

TEST_F(PollStateTest, LinkRegainedOnMainsAndOnBattery) {
  for (bool battery : {false, true}) {
    SCOPED_TRACE(battery ? "battery" : "mains");
    link.present = false;
    Poll();
    balloons.shown.clear();
    post->PostNow = false;
    link.present = true;
    if (battery)
      link.OnBattery();
    else
      link.OnMains();
    Poll();
    ASSERT_EQ(balloons.shown.size(), 1u);
    EXPECT_EQ(balloons.shown[0].title, QString::fromUtf8("Состояние UPS"));
    EXPECT_EQ(balloons.shown[0].text, QString::fromUtf8("Появилась связь с UPS."));
    EXPECT_EQ(balloons.shown[0].icon, BalloonIcon::Information);
    EXPECT_EQ(balloons.shown[0].timeout, 5000);
    EXPECT_EQ(core->TrayTag(), 0);
    EXPECT_TRUE(post->PostNow);
    EXPECT_EQ(core->PowerState(), battery ? 2 : 1);
    // Lost on mains, back on battery: the battery period begins with this poll.
    EXPECT_EQ(core->BatteryStatusChecker().Enabled(), battery);
    if (battery) {
      EXPECT_EQ(core->BatteryStatusChecker().Interval(), 15000);
    }
    EXPECT_EQ(core->WakeUpStatusTimer().Enabled(), battery);
  }
}

TEST_F(PollStateTest, MainsToBatteryWarnsReportsAndArmsTheTimeLimit) {
  StartAndPoll();
  post->PostNow = false;
  link.OnBattery();
  Poll();
  ASSERT_EQ(balloons.shown.size(), 1u);
  EXPECT_EQ(balloons.shown[0].text, QString::fromUtf8("Нагрузка запитана от батареи."));
  EXPECT_EQ(balloons.shown[0].icon, BalloonIcon::Error);
  EXPECT_TRUE(post->PostNow);
  EXPECT_TRUE(core->BatteryStatusChecker().Enabled());
  EXPECT_EQ(core->BatteryStatusChecker().Interval(), 15000);
  EXPECT_TRUE(core->WakeUpStatusTimer().Enabled());
  EXPECT_EQ(core->PowerState(), 2);
}

TEST_F(PollStateTest, ModeBalloonsFollowTheWarnSetting) {
  settings.WriteBool("Settings", "WarnOnModeChange", false);
  StartAndPoll();
  link.OnBattery();
  Poll();
  link.OnMains();
  Poll();
  EXPECT_TRUE(balloons.shown.empty());
  EXPECT_TRUE(post->PostNow);
}

TEST_F(PollStateTest, BatteryTimeLimitSwitchedOffIsNotArmed) {
  settings.WriteBool("Sense", "Battery", false);
  StartAndPoll();
  link.OnBattery();
  Poll();
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
}

TEST_F(PollStateTest, ChargeTriggerFiresOncePerBatteryPeriod) {
  settings.WriteBool("Sense", "BatteryPercent", true);
  settings.WriteBool("Sense", "BatteryShutdown", false);
  settings.WriteBool("Sense", "BatteryPlaySound", true);
  settings.WriteString("Sense", "BatterySound", "/tmp/alarm.wav");
  StartAndPoll();
  link.OnBattery("8.0");
  Poll();
  Poll();
  Poll();
  EXPECT_EQ(sound.played.size(), 1u);
  link.OnMains();
  Poll();
  EXPECT_TRUE(core->PercentCheckArmed());
  link.OnBattery("8.0");
  Poll();
  EXPECT_EQ(sound.played.size(), 2u);
}

TEST_F(PollStateTest, ChargeThresholdZeroNeverFires) {
  settings.WriteBool("Sense", "BatteryPercent", true);
  settings.WriteInteger("Sense", "BatteryPercentValue", 0);
  link.OnBattery("-1");
  StartAndPoll();
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_TRUE(core->PercentCheckArmed());
}

TEST_F(PollStateTest, BatteryToMainsStopsTheCountdown) {
  StartAndPoll();
  link.OnBattery();
  Poll();
  clock.Advance(15000);
  ASSERT_TRUE(core->ShutdownPending());
  link.OnMains();
  Poll();
  EXPECT_EQ(balloons.shown.back().text, QString::fromUtf8("Нагрузка запитана от сети."));
  EXPECT_EQ(balloons.shown.back().icon, BalloonIcon::Information);
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_FALSE(core->BatteryShutdownTimer().Enabled());
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  EXPECT_FALSE(core->WakeUpStatusTimer().Enabled());
  clock.Advance(120000);
  EXPECT_TRUE(power.calls.empty());
}

TEST_F(PollStateTest, LinkLostCancelsTheCountdownAndDarkensTheIcon) {
  StartAndPoll();
  link.OnBattery();
  Poll();
  clock.Advance(15000);
  ASSERT_TRUE(core->ShutdownPending());
  link.present = false;
  Poll();
  EXPECT_EQ(balloons.shown.back().text, QString::fromUtf8("Пропала связь с UPS."));
  EXPECT_EQ(balloons.shown.back().icon, BalloonIcon::Error);
  EXPECT_EQ(core->TrayTag(), 2);
  EXPECT_EQ(tray.icons.back(), 2);
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_EQ(core->LinkState(), 1);
  EXPECT_EQ(core->PowerState(), 0);
  EXPECT_FALSE(core->WakeUpStatusTimer().Enabled());
  EXPECT_TRUE(core->PercentCheckArmed());
  clock.Advance(120000);
  EXPECT_TRUE(power.calls.empty());
}

TEST_F(PollStateTest, TakeOverSuppressesTheWelcomeBalloon) {
  StartAndPoll(/*replaced=*/true);
  EXPECT_TRUE(popup.balloons.empty());
}

TEST_F(PollStateTest, StatisticsFollowTheSetting) {
  settings.WriteBool("Stats", "Enabled", false);
  StartAndPoll();
  Poll();
  EXPECT_TRUE(stats.records.empty());
}

TEST_F(PollStateTest, OnBatteryReminderEveryTenSeconds) {
  link.OnBattery();
  StartAndPoll();
  popup.balloons.clear();
  clock.Advance(2000);  // within the 3 s polling interval: polls also happen
  clock.Advance(8000);
  EXPECT_EQ(popup.balloons, std::vector<int>{2});
  clock.Advance(10000);
  EXPECT_EQ(popup.balloons, (std::vector<int>{2, 2}));
}

}  // namespace
}  // namespace qelta::testing
