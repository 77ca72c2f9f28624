// What the tray says about the state on the manual clock: the tooltip, and the balloon of a
// countdown the user cancelled from the menu.
#include <gtest/gtest.h>

#include "monitor/tray_tooltip.h"
#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

class TrayStateTest : public MonitorFixture {
 protected:
  void SetUp() override { StartAndPoll(); }
  QString Tip() { return TrayToolTip(*core); }
};

TEST_F(TrayStateTest, TooltipTellsLinkPowerSourceChargeAndCountdown) {
  link.status.battery_voltage = "13.40";  // 98.5 %: truncated as the pop-up shows it
  Poll();
  EXPECT_EQ(Tip(), QString::fromUtf8("QELTA MONITOR: сеть, 98 %"));
  link.OnBattery("8.80");  // 64.7 %
  Poll();
  EXPECT_EQ(Tip(), QString::fromUtf8("QELTA MONITOR: батарея, 64 %"));
  clock.Advance(15000 + 18000);  // the time limit, then 18 s of the 60-s countdown
  ASSERT_TRUE(core->ShutdownPending());
  EXPECT_EQ(Tip(), QString::fromUtf8("QELTA MONITOR: батарея, 64 %, выключение через 42 сек."));
  link.present = false;
  Poll();
  EXPECT_EQ(Tip(), QString::fromUtf8("QELTA MONITOR: нет связи с UPS"));
}

TEST_F(TrayStateTest, CancelFromTheMenuSaysSoOnceAndOnlyWhileACountdownRuns) {
  link.OnBattery();
  Poll();
  clock.Advance(15000 + 1000);
  ASSERT_TRUE(core->ShutdownPending());
  const size_t before = balloons.shown.size();
  core->CancelShutdownMenuClick();
  EXPECT_FALSE(core->ShutdownPending());
  ASSERT_EQ(balloons.shown.size(), before + 1);
  EXPECT_EQ(balloons.shown.back().title, QString::fromUtf8("Завершение работы"));
  EXPECT_EQ(balloons.shown.back().text, QString::fromUtf8("Завершение работы отменено."));
  EXPECT_EQ(balloons.shown.back().icon, BalloonIcon::Information);
  EXPECT_EQ(balloons.shown.back().timeout, 5000);
  // Chosen again from a menu that was open when the countdown ended: nothing more to say.
  core->CancelShutdownMenuClick();
  EXPECT_EQ(balloons.shown.size(), before + 1);
  clock.Advance(600000);
  EXPECT_TRUE(power.calls.empty());
}

}  // namespace
}  // namespace qelta::testing
