// Beeper synchronisation and the timing of polls.
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

using PollTimingTest = MonitorFixture;

TEST_F(PollTimingTest, BeeperIsToggledAndRequeriedUntilItMatchesTheSetting) {
  settings.WriteBool("Settings", "Beeper", false);
  link.status.status_beeper = true;
  StartAndPoll();
  EXPECT_EQ(link.calls, (std::vector<std::string>{"Q1", "Q", "Q1"}));
  EXPECT_FALSE(core->LastStatus().status_beeper);
  link.calls.clear();
  Poll();
  EXPECT_EQ(link.calls, std::vector<std::string>{"Q1"});
}

TEST_F(PollTimingTest, NoBeeperToggleWhileTheLinkIsDown) {
  settings.WriteBool("Settings", "Beeper", false);
  link.status.status_beeper = true;
  link.present = false;
  StartAndPoll();
  EXPECT_EQ(link.calls, std::vector<std::string>{"Q1"});
}

TEST_F(PollTimingTest, FailedBeeperToggleKeepsTheFirstAnswer) {
  settings.WriteBool("Settings", "Beeper", false);
  link.status.status_beeper = true;
  link.port_opens = false;
  StartAndPoll();
  EXPECT_EQ(link.calls, (std::vector<std::string>{"Q1", "Q"}));
  EXPECT_TRUE(core->LinkOK());
}

TEST_F(PollTimingTest, UserToggleIsNotUndoneAndIsStored) {
  settings.WriteBool("Settings", "Beeper", true);
  link.status.status_beeper = true;
  StartAndPoll();
  link.calls.clear();
  core->ToggleBeeperMenuClick();
  // The toggle, then one poll without synchronisation.
  EXPECT_EQ(link.calls, (std::vector<std::string>{"Q", "Q1"}));
  EXPECT_FALSE(core->LastStatus().status_beeper);
  EXPECT_FALSE(settings.ReadBool("Settings", "Beeper", true));
  ASSERT_FALSE(balloons.shown.empty());
  EXPECT_EQ(balloons.shown.back().title, QString::fromUtf8("Доп. звук. оповещение UPS"));
  EXPECT_EQ(balloons.shown.back().text,
            QString::fromUtf8("Дополнительное звуковое оповещение выключено."));
  EXPECT_FALSE(core->BeeperToggleActive());
}

TEST_F(PollTimingTest, UserToggleWhoseQueryFailsLeavesTheSetting) {
  StartAndPoll();
  link.present = false;
  core->ToggleBeeperMenuClick();
  EXPECT_EQ(balloons.shown.back().text,
            QString::fromUtf8("Невозможно переключить режим звукового оповещения."));
  EXPECT_EQ(balloons.shown.back().icon, BalloonIcon::Error);
  EXPECT_FALSE(settings.Has("Settings", "Beeper"));
}

TEST_F(PollTimingTest, UserToggleThatCannotOpenThePortSaysNothing) {
  StartAndPoll();
  link.port_opens = false;
  link.calls.clear();
  balloons.shown.clear();
  core->ToggleBeeperMenuClick();
  EXPECT_EQ(link.calls, std::vector<std::string>{"Q"});
  EXPECT_TRUE(balloons.shown.empty());
}

TEST_F(PollTimingTest, PollsAtOnceThenEveryInterval) {
  core->StartMonitoring(false);
  EXPECT_TRUE(link.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(link.calls.size(), 1u);
  clock.Advance(2999);
  EXPECT_EQ(link.calls.size(), 1u);
  clock.Advance(1);
  EXPECT_EQ(link.calls.size(), 2u);
  clock.Advance(6000);
  EXPECT_EQ(link.calls.size(), 4u);
}

TEST_F(PollTimingTest, UserToggleRestartsThePollingPeriod) {
  StartAndPoll();  // t = 1; next poll due at 3001
  clock.Advance(2000);
  core->ToggleBeeperMenuClick();  // polls at t = 2001; next due at 5001
  link.calls.clear();
  clock.Advance(2999);
  EXPECT_TRUE(link.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(link.calls, std::vector<std::string>{"Q1"});
}

TEST_F(PollTimingTest, IntervalZeroPollsOnlyOnceAtStart) {
  settings.WriteInteger("Settings", "Interval", 0);
  StartAndPoll();
  clock.Advance(3600 * 1000);
  EXPECT_EQ(link.calls.size(), 1u);
}

TEST_F(PollTimingTest, IntervalIsReadFromTheSettingsWithDefaultThirtySeconds) {
  settings.DeleteValue("Settings", "Interval");
  core->StartMonitoring(false);
  EXPECT_EQ(core->UpdateTimer().Interval(), 30000);
}

TEST_F(PollTimingTest, NoSettingsStoreMeansNoPoll) {
  core->SetSettings(nullptr);
  core->UpdateTimerTimer();
  EXPECT_TRUE(link.calls.empty());
}

}  // namespace
}  // namespace qelta::testing
