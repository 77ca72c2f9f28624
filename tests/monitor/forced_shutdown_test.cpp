// FSD from the primary of a UPS served elsewhere: the battery condition at once, a countdown
// that neither mains nor a lost link stops, and the logout before the power-off.
#include <gtest/gtest.h>

#include "monitor_fixture.h"

namespace qelta::testing {
namespace {

class ForcedShutdownTest : public MonitorFixture {
 protected:
  void SetUp() override {
    settings.WriteBool("Sense", "Battery", false);  // no time limit of this computer's own
    settings.WriteInteger("Sense", "BatteryShutdownCountdown", 5);
    link.logouts = &power.calls;
    StartAndPoll();  // on mains
  }
  void PollWithFsd(bool on_battery) {
    if (on_battery) link.OnBattery();
    link.status.forced_shutdown = true;
    Poll();
  }
};

TEST_F(ForcedShutdownTest, ReachesTheConditionAtOnceAndLogsOutBeforeThePowerOffThroughALostLink) {
  PollWithFsd(true);
  ASSERT_TRUE(core->ShutdownPending());
  clock.Advance(3000);
  // Seen again: the countdown goes on, it does not start over.
  Poll();
  // The primary goes down: the link is lost, the order stands.
  link.present = false;
  Poll();
  EXPECT_TRUE(core->ShutdownPending());
  clock.Advance(1999);
  EXPECT_TRUE(power.calls.empty());
  clock.Advance(1);
  EXPECT_EQ(power.calls, (std::vector<std::string>{"logout", "privilege", "poweroff"}));
}

TEST_F(ForcedShutdownTest, OnMainsTooAndOnlyTheUsersCancelOrAWithdrawnOrderStopsIt) {
  PollWithFsd(false);
  ASSERT_TRUE(core->ShutdownPending());
  core->CancelShutdownProcessClick();
  Poll();  // still FSD: not reached again
  EXPECT_FALSE(core->ShutdownPending());

  link.status.forced_shutdown = false;
  Poll();
  PollWithFsd(false);  // a new order
  ASSERT_TRUE(core->ShutdownPending());
  link.status.forced_shutdown = false;
  Poll();  // withdrawn while on mains
  EXPECT_FALSE(core->ShutdownPending());
  clock.Advance(10000);
  EXPECT_TRUE(power.calls.empty());
}

}  // namespace
}  // namespace qelta::testing
