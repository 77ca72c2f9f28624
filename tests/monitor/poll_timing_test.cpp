// Beeper synchronisation and the timing of polls.
#include <gtest/gtest.h>

#include <climits>
#include <utility>

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

TEST_F(PollTimingTest, IntervalZeroStillPollsEverySecond) {
  settings.WriteInteger("Settings", "Interval", 0);
  StartAndPoll();
  clock.Advance(10 * 1000);
  EXPECT_EQ(link.calls.size(), 11u);
}

TEST_F(PollTimingTest, IntervalOutsideItsBoundsPollsAtTheNearerBound) {
  const std::pair<int32_t, int> cases[] = {
      {1, 1000},
      {3, 3000},
      {3600, 3600000},
      {0, 1000},
      {-5, 1000},
      {INT32_MIN, 1000},
      {3601, 3600000},
      {2147484, 3600000},  // a product beyond 32 bits
      {INT32_MAX, 3600000},
  };
  for (const auto& [stored, milliseconds] : cases) {
    SCOPED_TRACE(stored);
    settings.WriteInteger("Settings", "Interval", stored);
    core->StartMonitoring(false);
    EXPECT_EQ(core->UpdateTimer().Interval(), milliseconds);
    EXPECT_TRUE(core->UpdateTimer().Running());
  }
}

TEST_F(PollTimingTest, AStoreThatFailsInsideAPollDoesNotStopThePolls) {
  // "Beeper" is read before the poll would enable its timer again, "Enabled" after.
  for (const char* key : {"Beeper", "Enabled"}) {
    SCOPED_TRACE(key);
    core->StartMonitoring(false);
    settings.failing_key = key;
    EXPECT_THROW(clock.Advance(1), StoreError);  // the first poll
    EXPECT_TRUE(core->UpdateTimer().Enabled());
    settings.failing_key.clear();
    link.calls.clear();
    clock.Advance(3000);
    EXPECT_EQ(link.calls, std::vector<std::string>{"Q1"});
  }
}

TEST_F(PollTimingTest, BeeperIsLeftAloneWhenTheReplyDoesNotCarryItsFlag) {
  settings.WriteBool("Settings", "Beeper", true);
  StartAndPoll();
  for (const char* reply : {"(", "(218.5 218.5 218.5 023 50.0 13.50 27.0 0000100",
                            "(218.5 218.5 218.5 023 50.0 13.50 27.0"}) {
    SCOPED_TRACE(reply);
    link.reply = reply;
    link.calls.clear();
    Poll();
    Poll();
    EXPECT_EQ(link.calls, (std::vector<std::string>{"Q1", "Q1"}));
    EXPECT_TRUE(core->LinkOK());
  }
  // A whole flag word with the beeper off is put right.
  link.reply = "(218.5 218.5 218.5 023 50.0 13.50 27.0 00001000";
  link.calls.clear();
  Poll();
  EXPECT_EQ(link.calls, (std::vector<std::string>{"Q1", "Q", "Q1"}));
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
