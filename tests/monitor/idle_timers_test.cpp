// The timers that sleep while their handler could do nothing: an idle monitor wakes only to
// poll, and the Ctrl balloon, the blinking icon and the reports still come at the moments the
// always-running timers gave them. The clock starts at 0; every timer counts its moments from
// the core's creation at 0 (the first poll runs at 1, so the polls fall at 3001, 6001, ...).
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

class IdleTimersTest : public MonitorFixture {
 protected:
  // The session tells every change of the Ctrl key (X11 with XInput 2).
  void KeyChangesTold() {
    keyboard.polling = false;
    keyboard.Set(false);
  }
  void AdvanceTo(int64_t moment) { clock.Advance(moment - clock.Now()); }
};

TEST_F(IdleTimersTest, IdleOnMainsTheMonitorWakesOnlyToPoll) {
  KeyChangesTold();
  StartAndPoll();
  EXPECT_EQ(core->TrayTag(), 0);

  EXPECT_EQ(clock.NextWake(), 3001);
  const int64_t firings = clock.Firings();
  clock.Advance(60000);
  EXPECT_EQ(clock.Firings() - firings, 20);  // the polls, nothing else
  EXPECT_EQ(link.calls.size(), 21u);

  // The timers keep the state their handlers read and set.
  for (Timer* timer : {&core->TrayUpdater(), &core->CtrlPopupTimer(), &core->PostTimer()}) {
    EXPECT_TRUE(timer->Enabled());
    EXPECT_TRUE(timer->Parked());
  }
  EXPECT_EQ(core->TrayUpdater().Interval(), 450);
  EXPECT_EQ(core->CtrlPopupTimer().Interval(), 100);
  EXPECT_EQ(core->PostTimer().Interval(), 1000);
}

TEST_F(IdleTimersTest, KeyThatCannotBeToldKeepsTheCtrlWatchAsking) {
  StartAndPoll();  // the keyboard must be asked
  const int asked = keyboard.asked;
  clock.Advance(1000);
  EXPECT_EQ(keyboard.asked - asked, 10);
  EXPECT_FALSE(core->CtrlPopupTimer().Parked());
}

class CtrlHoldTest : public IdleTimersTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CtrlHoldTest, BalloonComesAtTheFortiethTickWhetherTheKeyIsAskedOrTold) {
  if (GetParam()) KeyChangesTold();
  StartAndPoll();
  popup.balloons.clear();  // the welcome
  popup.balloon_times.clear();

  // Pressed at 1234: the first tick that sees it is at 1300, the fortieth at 5200.
  AdvanceTo(1234);
  keyboard.Set(true);
  AdvanceTo(5199);
  EXPECT_TRUE(popup.balloons.empty());
  AdvanceTo(12000);
  EXPECT_EQ(popup.balloons, std::vector<int>{1});
  EXPECT_EQ(popup.balloon_times, std::vector<int64_t>{5200});
  EXPECT_EQ(core->CtrlHeldTicks(), 108);

  // Released at 12050: the tick at 12100 ends the count.
  AdvanceTo(12050);
  keyboard.Set(false);
  AdvanceTo(12100);
  EXPECT_EQ(core->CtrlHeldTicks(), 0);
  EXPECT_EQ(core->CtrlPopupTimer().Parked(), GetParam());

  // A new press at 20000 sharp: its first tick is the next one, at 20100.
  AdvanceTo(20000);
  keyboard.Set(true);
  AdvanceTo(30000);
  EXPECT_EQ(popup.balloon_times, (std::vector<int64_t>{5200, 24000}));
}

INSTANTIATE_TEST_SUITE_P(AskedOrTold, CtrlHoldTest, ::testing::Bool());

TEST_F(IdleTimersTest, IconBlinksFromTheFirstPollOnBatteryAndSettlesOnMains) {
  KeyChangesTold();
  StartAndPoll();
  tray.icons.clear();
  tray.times.clear();
  EXPECT_TRUE(core->TrayUpdater().Parked());

  // The poll at 3001 finds the battery; the animation ticks at 3150 (yellow, already shown),
  // then red and yellow alternate every 450 ms.
  link.OnBattery();
  AdvanceTo(5000);
  EXPECT_EQ(tray.icons, (std::vector<int>{1, 0, 1, 0}));
  EXPECT_EQ(tray.times, (std::vector<int64_t>{3600, 4050, 4500, 4950}));

  // Back on mains at the poll of 9001 while the icon is red (shown at 9000): the tick at 9450
  // brings yellow back, and the animation sleeps again.
  AdvanceTo(8000);
  link.OnMains();
  AdvanceTo(9400);
  EXPECT_EQ(tray.icons.back(), 1);
  EXPECT_EQ(tray.times.back(), 9000);
  EXPECT_EQ(core->PowerState(), 1);
  EXPECT_FALSE(core->TrayUpdater().Parked());
  AdvanceTo(9450);
  EXPECT_EQ(tray.icons.back(), 0);
  EXPECT_EQ(tray.times.back(), 9450);
  EXPECT_TRUE(core->TrayUpdater().Parked());
  const size_t shown = tray.icons.size();
  AdvanceTo(20000);
  EXPECT_EQ(tray.icons.size(), shown);
}

TEST_F(IdleTimersTest, LinkLostTheAnimationShowsNothingAndSleeps) {
  KeyChangesTold();
  StartAndPoll();
  link.OnBattery();
  AdvanceTo(5000);
  link.present = false;
  AdvanceTo(6001);  // the poll shows the dark icon itself
  EXPECT_EQ(core->TrayTag(), 2);
  EXPECT_TRUE(core->TrayUpdater().Parked());
  EXPECT_EQ(clock.NextWake(), 9001);
}

TEST_F(IdleTimersTest, ReportsKeepTheirMomentsAndTheCountRunsOnlyWhileReportingIsOn) {
  KeyChangesTold();
  StartAndPoll();  // the link came up: a prompt report waits for reporting to be on
  AdvanceTo(10500);
  EXPECT_EQ(poster.posts, 0);
  EXPECT_TRUE(core->PostTimer().Parked());

  settings.WriteString("POST", "URL", "127.0.0.1/ups");
  settings.WriteInteger("POST", "Interval", 5);
  settings.WriteBool("POST", "Perform", true);
  settings_changes.Notify();
  // The tick at 11000 sends the prompt report and restarts the count; every 5 s after it the
  // count reaches the interval.
  AdvanceTo(22500);
  EXPECT_EQ(poster.times, (std::vector<int64_t>{11000, 16000, 21000}));
  EXPECT_EQ(post->PostCounter, 1);  // the tick at 22000

  settings.WriteBool("POST", "Perform", false);
  settings_changes.Notify();
  AdvanceTo(40500);
  EXPECT_TRUE(core->PostTimer().Parked());
  EXPECT_TRUE(core->PostTimer().Enabled());
  EXPECT_EQ(post->PostCounter, 1);

  // On again: the count goes on from 1 at the same whole seconds.
  settings.WriteBool("POST", "Perform", true);
  settings_changes.Notify();
  AdvanceTo(45000);
  EXPECT_EQ(poster.times, (std::vector<int64_t>{11000, 16000, 21000, 44000}));
}

TEST_F(IdleTimersTest, WithoutChangeNoticeTheReportTickLooksEverySecond) {
  KeyChangesTold();
  settings_changes.tells = false;
  settings_changes.Notify();
  StartAndPoll();
  EXPECT_FALSE(core->PostTimer().Parked());
  AdvanceTo(10500);
  settings.WriteString("POST", "URL", "127.0.0.1/ups");
  settings.WriteBool("POST", "Perform", true);  // no notice
  AdvanceTo(11500);
  EXPECT_EQ(poster.times, std::vector<int64_t>{11000});
}

TEST_F(IdleTimersTest, ASwitchThatCannotBeReadLetsTheTickMeetTheFailure) {
  KeyChangesTold();
  StartAndPoll();
  EXPECT_TRUE(core->PostTimer().Parked());
  settings.failing_key = "Perform";
  settings_changes.Notify();
  EXPECT_FALSE(core->PostTimer().Parked());
  EXPECT_THROW(clock.Advance(1000), StoreError);
}

}  // namespace
}  // namespace qelta::testing
