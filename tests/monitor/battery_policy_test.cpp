// The battery policy on the manual clock: time limit, countdown, sound and power-off.
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

class BatteryPolicyTest : public MonitorFixture {
 protected:
  void SetUp() override {
    settings.WriteBool("Sense", "BatteryPlaySound", true);
    settings.WriteString("Sense", "BatterySound", "\"/usr/share/sounds/a b.wav\"");
    StartAndPoll();  // on mains
  }
  void GoOnBattery() {
    link.OnBattery();
    Poll();
  }
};

TEST_F(BatteryPolicyTest, TimelineToPowerOff) {
  GoOnBattery();
  clock.Advance(14999);
  EXPECT_TRUE(sound.played.empty());
  EXPECT_FALSE(core->ShutdownPending());
  clock.Advance(1);
  ASSERT_EQ(sound.played.size(), 1u);
  EXPECT_EQ(sound.played[0], QString::fromUtf8("/usr/share/sounds/a b.wav"));
  EXPECT_TRUE(core->ShutdownPending());
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  clock.Advance(59999);
  EXPECT_TRUE(power.calls.empty());
  const size_t balloons_before = balloons.shown.size();
  clock.Advance(1);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
  ASSERT_EQ(balloons.shown.size(), balloons_before + 1);
  EXPECT_EQ(balloons.shown.back().title, QString::fromUtf8("Завершение работы"));
  EXPECT_EQ(balloons.shown.back().text,
            QString::fromUtf8("Сейчас произойдет форсированное завершение работы системы."));
  EXPECT_EQ(balloons.shown.back().icon, BalloonIcon::Error);
  EXPECT_EQ(balloons.shown.back().timeout, 5000);
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_FALSE(core->BatteryShutdownTimer().Enabled());
  // An accepted power-off adds nothing.
  power.Finish(true);
  EXPECT_EQ(balloons.shown.size(), balloons_before + 1);
  // One attempt per battery period.
  clock.Advance(600000);
  EXPECT_EQ(power.calls.size(), 2u);
}

// A refused power-off is told in a notice that stays until closed, and tried again every 60 s
// as a countdown the pop-up shows, through a lost link, until mains comes back.
TEST_F(BatteryPolicyTest, ARefusedPowerOffIsToldUntilClosedAndTriedEveryMinuteOnBattery) {
  const QString told = QString::fromUtf8(
      "Автоматическое выключение не удалось. Сохраните работу и завершите работу компьютера "
      "вручную. Пока UPS работает от батареи, попытка повторяется каждые 60 сек.\nПричина: ");
  GoOnBattery();
  clock.Advance(15000 + 60000);
  ASSERT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
  size_t balloons_before = balloons.shown.size();
  power.Finish(false, "Interactive authentication required.");
  ASSERT_EQ(balloons.shown.size(), balloons_before + 1);
  const Balloon refused = balloons.shown.back();
  EXPECT_EQ(refused.title, QString::fromUtf8("Компьютер НЕ выключен!"));
  EXPECT_EQ(refused.text, told + "Interactive authentication required.");
  EXPECT_EQ(refused.icon, BalloonIcon::Error);
  EXPECT_EQ(refused.timeout, kBalloonStaysUntilClosed);
  // The next try is a countdown the pop-up shows and the tray menu can cancel.
  EXPECT_TRUE(core->ShutdownPending());
  EXPECT_EQ(core->ShutdownDeadline(), clock.TickCount() + 60000u);

  // A lost link does not stop it: the UPS may be on battery still.
  link.present = false;
  Poll();
  EXPECT_EQ(core->LinkState(), 1);
  EXPECT_TRUE(core->ShutdownPending());
  clock.Advance(59999);
  EXPECT_EQ(power.calls.size(), 2u);
  balloons_before = balloons.shown.size();
  clock.Advance(1);
  ASSERT_EQ(power.calls.size(), 4u);
  // The try announces itself as the first did, and its refusal takes the notice's place.
  ASSERT_EQ(balloons.shown.size(), balloons_before + 1);
  EXPECT_EQ(balloons.shown.back().title, QString::fromUtf8("Завершение работы"));
  power.Finish(false, "Permission denied");
  ASSERT_EQ(balloons.shown.size(), balloons_before + 2);
  EXPECT_EQ(balloons.shown.back().title, refused.title);
  EXPECT_EQ(balloons.shown.back().text, told + "Permission denied");
  EXPECT_EQ(balloons.shown.back().timeout, kBalloonStaysUntilClosed);

  // Mains, seen when the link comes back, ends the tries.
  link.present = true;
  link.OnMains();
  Poll();
  EXPECT_FALSE(core->ShutdownPending());
  clock.Advance(600000);
  EXPECT_EQ(power.calls.size(), 4u);

  // The next battery period tries afresh; the tray menu's cancel ends its tries.
  GoOnBattery();
  clock.Advance(15000 + 60000);
  ASSERT_EQ(power.calls.size(), 6u);
  power.Finish(false, "Permission denied");
  ASSERT_TRUE(core->ShutdownPending());
  core->CancelShutdownProcessClick();
  clock.Advance(600000);
  EXPECT_EQ(power.calls.size(), 6u);
}

TEST_F(BatteryPolicyTest, AnAnswerAfterTheMonitorIsGoneIsDropped) {
  GoOnBattery();
  clock.Advance(15000 + 60000);
  ASSERT_EQ(power.unanswered.size(), 1u);
  const size_t balloons_before = balloons.shown.size();
  post.reset();
  core.reset();
  power.Finish(false, "Not connected to D-Bus server");
  EXPECT_EQ(balloons.shown.size(), balloons_before);
}

TEST_F(BatteryPolicyTest, CancelFromTheMenuStopsTheCountdown) {
  GoOnBattery();
  clock.Advance(15000 + 30000);
  ASSERT_TRUE(core->ShutdownPending());
  core->CancelShutdownProcessClick();
  EXPECT_FALSE(core->ShutdownPending());
  clock.Advance(600000);
  EXPECT_TRUE(power.calls.empty());
}

TEST_F(BatteryPolicyTest, ChargeTriggerRestartsARunningCountdownAndPlaysAgain) {
  settings.WriteBool("Sense", "BatteryPercent", true);
  GoOnBattery();  // 13.50 V: above the threshold
  clock.Advance(15000);
  ASSERT_TRUE(core->ShutdownPending());
  clock.Advance(40000);  // 20 s of the countdown left
  link.OnBattery("7.0");
  Poll();
  EXPECT_EQ(sound.played.size(), 2u);
  clock.Advance(59999);
  EXPECT_TRUE(power.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"privilege", "poweroff"}));
}

TEST_F(BatteryPolicyTest, ChargeTriggerFirstGivesUpTheTimeLimit) {
  settings.WriteBool("Sense", "BatteryPercent", true);
  link.OnBattery("7.0");
  Poll();
  EXPECT_FALSE(core->BatteryStatusChecker().Enabled());
  EXPECT_TRUE(core->ShutdownPending());
  EXPECT_EQ(sound.played.size(), 1u);
  clock.Advance(30000);
  EXPECT_EQ(sound.played.size(), 1u);
}

TEST_F(BatteryPolicyTest, WithoutShutdownOnlyTheSoundPlays) {
  settings.WriteBool("Sense", "BatteryShutdown", false);
  GoOnBattery();
  clock.Advance(15000);
  EXPECT_EQ(sound.played.size(), 1u);
  EXPECT_FALSE(core->ShutdownPending());
  EXPECT_FALSE(core->BatteryShutdownTimer().Enabled());
  clock.Advance(600000);
  EXPECT_TRUE(power.calls.empty());
}

TEST_F(BatteryPolicyTest, CountdownOfZeroNeverFires) {
  settings.WriteInteger("Sense", "BatteryShutdownCountdown", 0);
  GoOnBattery();
  clock.Advance(15000);
  EXPECT_TRUE(core->ShutdownPending());
  clock.Advance(24LL * 3600 * 1000);
  EXPECT_TRUE(power.calls.empty());
  EXPECT_TRUE(core->ShutdownPending());
}

TEST_F(BatteryPolicyTest, DeadlineWrapsWithTheTickCounter) {
  // The fixture's tick starts 65,536 ms before the 32-bit wrap.
  GoOnBattery();
  clock.Advance(15000);
  const uint32_t tick = clock.TickCount();
  EXPECT_EQ(core->ShutdownDeadline(), tick + 60000u);
  EXPECT_LT(core->ShutdownDeadline(), tick);  // wrapped past zero
  EXPECT_EQ((core->ShutdownDeadline() - clock.TickCount()) / 1000u, 60u);
}

TEST_F(BatteryPolicyTest, NoSoundWhenSwitchedOffOrPathEmpty) {
  settings.WriteBool("Sense", "BatteryPlaySound", false);
  GoOnBattery();
  clock.Advance(15000);
  EXPECT_TRUE(sound.played.empty());
  link.OnMains();
  Poll();
  settings.WriteBool("Sense", "BatteryPlaySound", true);
  settings.WriteString("Sense", "BatterySound", "\"");
  GoOnBattery();
  clock.Advance(15000);
  EXPECT_TRUE(sound.played.empty());
}

TEST(StripQuotesTest, RemovesAtMostOneQuoteAtEachEnd) {
  EXPECT_EQ(StripQuotes("\"a b.wav\""), "a b.wav");
  EXPECT_EQ(StripQuotes("\""), "");
  EXPECT_EQ(StripQuotes(""), "");
  EXPECT_EQ(StripQuotes("\"\"x\"\""), "\"x\"");
  EXPECT_EQ(StripQuotes("a.wav\""), "a.wav");
  EXPECT_EQ(StripQuotes("\"a.wav"), "a.wav");
}

}  // namespace
}  // namespace qelta::testing
