// The on-battery time limit over a whole battery period: armed however the period is first
// seen, and counted from its first poll through a link that drops and comes back.
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

// Polls every 3 s (the fixture's interval), time limit 15 s, countdown 60 s.
class BatteryPeriodTest : public MonitorFixture {
 protected:
  // Moves on to the next automatic poll.
  void NextPoll() { clock.Advance(3000); }

  // The countdown is started exactly `ms` from now, not a millisecond before.
  void ExpectCountdownIn(int64_t ms) {
    clock.Advance(ms - 1);
    EXPECT_FALSE(core->ShutdownPending()) << "at " << clock.Now();
    clock.Advance(1);
    EXPECT_TRUE(core->ShutdownPending()) << "at " << clock.Now();
  }
};

TEST_F(BatteryPeriodTest, StartedOnBatteryCountsFromTheFirstPoll) {
  link.OnBattery();
  StartAndPoll();  // t = 1
  ExpectCountdownIn(15000);
  clock.Advance(60000);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
}

TEST_F(BatteryPeriodTest, ALinkThatDropsAndReturnsNeitherRestartsNorPostponesTheCount) {
  StartAndPoll();  // t = 1, mains
  link.OnBattery();
  Poll();      // t = 1: the battery period begins; next poll at 3001
  NextPoll();  // 3001
  link.present = false;
  NextPoll();  // 6001: link lost, time limit stopped
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  link.present = true;
  NextPoll();  // 9001: back on battery, 6000 ms of the limit left
  EXPECT_EQ(BalloonTexts().back(), QString::fromUtf8("Появилась связь с UPS."));
  ExpectCountdownIn(6000);
  clock.Advance(60000);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
}

TEST_F(BatteryPeriodTest, ALimitThatPassedWhileTheLinkWasDownFiresAtOnce) {
  settings.WriteBool("Sense", "BatteryPlaySound", true);
  settings.WriteString("Sense", "BatterySound", "/tmp/alarm.wav");
  link.OnBattery();
  StartAndPoll();  // t = 1
  link.present = false;
  for (int i = 0; i < 10; ++i) NextPoll();  // 30001: lost since 3001
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_TRUE(sound.played.empty());
  link.present = true;
  ExpectCountdownIn(3001);  // the poll at 33001, and at once after it
  EXPECT_EQ(sound.played.size(), 1u);
}

TEST_F(BatteryPeriodTest, ACountdownCutByALostLinkStartsAgainWhenTheLinkReturns) {
  link.OnBattery();
  StartAndPoll();  // t = 1
  clock.Advance(15000);
  ASSERT_TRUE(core->ShutdownPending());  // 15001
  link.present = false;
  NextPoll();  // 18001: link lost, countdown cancelled
  ASSERT_FALSE(core->ShutdownPending());
  link.present = true;
  NextPoll();  // 21001: the limit has passed; the countdown starts again at once
  clock.Advance(1);
  EXPECT_TRUE(core->ShutdownPending());
  clock.Advance(59999);
  EXPECT_TRUE(power.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
}

TEST_F(BatteryPeriodTest, APollOnMainsEndsTheBatteryPeriod) {
  link.OnBattery();
  StartAndPoll();  // t = 1
  link.present = false;
  NextPoll();  // 3001
  link.present = true;
  link.OnMains();
  NextPoll();  // 6001: mains
  link.OnBattery();
  NextPoll();  // 9001: a new battery period, counted from here
  ExpectCountdownIn(15000);
}

TEST_F(BatteryPeriodTest, TheUsersCancelHoldsThroughALinkThatDropsAndReturns) {
  link.OnBattery();
  StartAndPoll();
  clock.Advance(15000);
  ASSERT_TRUE(core->ShutdownPending());
  core->CancelShutdownProcessClick();
  link.present = false;
  NextPoll();
  link.present = true;
  NextPoll();
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  clock.Advance(600000);
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_TRUE(power.calls.empty());
}

TEST_F(BatteryPeriodTest, TheSwitchOfTheLimitIsHonouredHoweverThePeriodIsSeen) {
  settings.WriteBool("Sense", "Battery", false);
  link.OnBattery();
  StartAndPoll();
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  link.present = false;
  NextPoll();
  link.present = true;
  NextPoll();
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  clock.Advance(600000);
  EXPECT_FALSE(core->ShutdownPending());
}

TEST_F(BatteryPeriodTest, ALapsedLimitAndTheChargeTriggerAtOneReturnStartOneCountdown) {
  settings.WriteBool("Sense", "BatteryPercent", true);
  settings.WriteBool("Sense", "BatteryPlaySound", true);
  settings.WriteString("Sense", "BatterySound", "/tmp/alarm.wav");
  link.OnBattery();
  StartAndPoll();  // 13.50 V: above the charge threshold
  link.present = false;
  for (int i = 0; i < 10; ++i) NextPoll();
  link.present = true;
  link.OnBattery("7.0");
  NextPoll();
  clock.Advance(1);
  EXPECT_TRUE(core->ShutdownPending());
  EXPECT_EQ(sound.played.size(), 1u);
  clock.Advance(59998);
  EXPECT_TRUE(power.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
}

}  // namespace
}  // namespace qelta::testing
