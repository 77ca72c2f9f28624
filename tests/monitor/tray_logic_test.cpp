// The tray icon's animation, the menu states and the Ctrl-hold balloon.
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

using TrayLogicTest = MonitorFixture;

TEST_F(TrayLogicTest, IconBlinksOnBatteryAndStaysSteadyOtherwise) {
  StartAndPoll();  // mains: icon 0
  tray.icons.clear();
  clock.Advance(450 * 4);
  EXPECT_TRUE(tray.icons.empty());
  link.OnBattery();
  Poll();
  // The first tick on battery shows yellow (already shown), then red and yellow alternate.
  clock.Advance(450 * 6);
  EXPECT_EQ(tray.icons, (std::vector<int>{1, 0, 1, 0, 1}));
  link.present = false;
  Poll();
  tray.icons.clear();
  clock.Advance(450 * 4);
  EXPECT_TRUE(tray.icons.empty());
  EXPECT_EQ(core->TrayTag(), 2);
}

TEST_F(TrayLogicTest, MenuStatesFollowLinkBeeperAndTest) {
  link.present = false;
  StartAndPoll();
  auto state = core->TrayMenuPopup();
  EXPECT_FALSE(state.toggle_beeper_enabled);
  EXPECT_FALSE(state.toggle_beeper_checked);
  EXPECT_FALSE(state.perform_test_enabled);

  link.present = true;
  link.status.status_beeper = true;
  Poll();
  state = core->TrayMenuPopup();
  EXPECT_TRUE(state.toggle_beeper_enabled);
  EXPECT_TRUE(state.toggle_beeper_checked);
  EXPECT_TRUE(state.perform_test_enabled);

  link.status.status_testing = true;
  Poll();
  EXPECT_FALSE(core->TrayMenuPopup().perform_test_enabled);
}

TEST_F(TrayLogicTest, CtrlHeldFourSecondsShowsOneBalloonPerPress) {
  StartAndPoll();
  popup.balloons.clear();
  keyboard.ctrl = true;
  clock.Advance(3900);
  EXPECT_TRUE(popup.balloons.empty());
  clock.Advance(100);
  EXPECT_EQ(popup.balloons, std::vector<int>{1});
  clock.Advance(6000);
  EXPECT_EQ(popup.balloons, std::vector<int>{1});
  keyboard.ctrl = false;
  clock.Advance(100);
  keyboard.ctrl = true;
  clock.Advance(4000);
  EXPECT_EQ(popup.balloons, (std::vector<int>{1, 1}));
}

TEST_F(TrayLogicTest, CtrlBalloonFollowsTheSetting) {
  settings.WriteBool("Settings", "PopupBaloonIn2Secs", false);
  StartAndPoll();
  popup.balloons.clear();
  keyboard.ctrl = true;
  clock.Advance(10000);
  EXPECT_TRUE(popup.balloons.empty());
}

TEST_F(TrayLogicTest, TestCommandShowsThePopupOrSaysItFailed) {
  StartAndPoll();
  core->SetClickPosition(1900, 1000);
  core->PerformTestMenuClick();
  EXPECT_EQ(popup.shown_at, (std::vector<std::pair<int, int>>{{1900, 1000}}));
  link.port_opens = false;
  core->PerformTestMenuClick();
  EXPECT_EQ(balloons.shown.back().title, QString::fromUtf8("Тестирование UPS"));
  EXPECT_EQ(balloons.shown.back().text, QString::fromUtf8("Невозможно начать тестирование UPS."));
  EXPECT_EQ(balloons.shown.back().icon, BalloonIcon::Error);
}

TEST_F(TrayLogicTest, AlwaysRunningTimersLeaveTheStoreAloneOutsideMonitorMode) {
  // Installer mode: no StartMonitoring, the store already closed.
  core->SetSettings(nullptr);
  keyboard.ctrl = true;
  clock.Advance(10000);
  EXPECT_TRUE(popup.balloons.empty());
  EXPECT_EQ(poster.posts, 0);
}

}  // namespace
}  // namespace qelta::testing
