// Waiting for a system tray that comes up after the monitor.
#include "monitor/tray_wait.h"

#include <gtest/gtest.h>

#include <vector>

#include "monitor_fakes.h"
#include "platform/manual_clock.h"

namespace qelta::testing {
namespace {

// The desktop as the wait sees it: whether a tray is there, and whether its arrival is told.
class FakeDesktop : public ChangeNotice {
 public:
  bool tray = false;
  bool tells = true;
  int looked = 0;  // how often the wait asked whether a tray is there

  // A tray appears; a desktop that tells arrivals tells this one.
  void TrayAppears() {
    tray = true;
    if (tells) Tell();
  }
  void Tell() {
    if (handler_) handler_();
  }
  bool TellsEveryChange() override { return tells; }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  std::function<void()> handler_;
};

class TrayWaitTest : public ::testing::Test {
 protected:
  TrayWait& MakeWait() {
    wait_ = std::make_unique<TrayWait>(
        clock, desktop,
        [this] {
          ++desktop.looked;
          return desktop.tray;
        },
        [this] { shown_again.push_back(clock.Now()); });
    return *wait_;
  }

  ManualClock clock;
  FakeDesktop desktop;
  std::vector<int64_t> shown_again;
  std::unique_ptr<TrayWait> wait_;
};

TEST_F(TrayWaitTest, ATrayThereAtStartNeedsNoWait) {
  desktop.tray = true;
  TrayWait& wait = MakeWait();
  wait.Start();
  EXPECT_FALSE(wait.Waiting());
  EXPECT_EQ(clock.NextWake(), std::nullopt);
  EXPECT_TRUE(shown_again.empty());
}

TEST_F(TrayWaitTest, WhereArrivalsAreNotToldALateTrayIsFoundAtTheNextLook) {
  desktop.tells = false;
  TrayWait& wait = MakeWait();
  wait.Start();
  EXPECT_TRUE(wait.Waiting());
  clock.Advance(4500);
  EXPECT_EQ(desktop.looked, 3);  // at the start, at 2000 and at 4000
  desktop.TrayAppears();
  clock.Advance(10000);
  EXPECT_EQ(shown_again, std::vector<int64_t>{6000});
  EXPECT_FALSE(wait.Waiting());
  EXPECT_EQ(desktop.looked, 4);
}

TEST_F(TrayWaitTest, WhereArrivalsAreToldTheWaitSleepsUntilOneIsTold) {
  TrayWait& wait = MakeWait();
  wait.Start();
  EXPECT_TRUE(wait.Waiting());
  EXPECT_TRUE(wait.RetryTimer().Enabled());
  EXPECT_EQ(clock.NextWake(), std::nullopt);
  clock.Advance(60000);
  EXPECT_EQ(desktop.looked, 1);

  // A notice without a usable tray (another screen's, or gone again) keeps the wait.
  desktop.Tell();
  EXPECT_TRUE(wait.Waiting());
  EXPECT_TRUE(shown_again.empty());

  clock.Advance(1234);
  desktop.TrayAppears();
  EXPECT_EQ(shown_again, std::vector<int64_t>{61234});
  EXPECT_FALSE(wait.Waiting());
  desktop.Tell();
  EXPECT_EQ(shown_again.size(), 1u);
}

TEST_F(TrayWaitTest, ANoticeThatStopsTellingHandsTheWaitBackToTheTimer) {
  TrayWait& wait = MakeWait();
  wait.Start();
  clock.Advance(5000);
  desktop.tells = false;  // the connection to the display broke
  desktop.Tell();
  EXPECT_EQ(clock.NextWake(), 6000);  // the timer's moments count from the start
  desktop.tray = true;
  clock.Advance(1000);
  EXPECT_EQ(shown_again, std::vector<int64_t>{6000});
  EXPECT_FALSE(wait.Waiting());
}

}  // namespace
}  // namespace qelta::testing
