// The real monitor under a private X server against the simulated UPS, its tray icon docked in
// a tray the test hosts: the configuration dialog opened from the tray menu changes the period
// of the polls.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>
#include <thread>

#include "platform/wall_clock.h"
#include "program_harness.h"
#include "settings/setting_keys.h"
#include "settings/settings_store.h"
#include "x_desktop.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kKeyTab = 0xff09;
constexpr uint32_t kKeyReturn = 0xff0d;
constexpr uint32_t kKeyUp = 0xff52;
constexpr uint32_t kKeyDown = 0xff54;

VirtualDisplay* display = nullptr;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new DisplayEnvironment(display));

uint32_t Now() {
  SystemWallClock clock;
  return TimeStampFromLocalMilliseconds(clock.LocalMillisecondsSinceEpoch());
}

std::vector<uint32_t> Times(const TUPSStatusRawData& records) {
  std::vector<uint32_t> times;
  for (const TUPSStatusRaw& r : records) times.push_back(r.time);
  return times;
}

TEST(ProgramConfigTest, TheDialogFromTheTrayMenuSetsANewPollPeriod) {
  ASSERT_TRUE(display != nullptr && display->ok()) << "no Xvfb";
  XDesktop desktop(display->name());
  ASSERT_TRUE(desktop.ok()) << "no tray";
  MonitorSandbox sandbox;
  ChildProcess simulator;
  const std::string device = StartSimulator(simulator, {"--pace=instant"});
  ASSERT_FALSE(device.empty());
  // As an installation leaves them.
  sandbox.SeedSettings(device, 3,
                       "[Sense]\nBattery=1\nBatteryTime=10\nBatteryPercent=1\n"
                       "BatteryPercentValue=80\nBatteryShutdown=1\nBatteryShutdownCountdown=60");
  ChildProcess monitor;
  ASSERT_TRUE(
      monitor.Start(sandbox.MonitorCommand(), sandbox.Environment(display->name()), sandbox.dir()));
  const xcb_window_t icon = desktop.WaitForTrayIcon(20s);
  ASSERT_NE(icon, 0u) << "the monitor docked no tray icon";
  ASSERT_TRUE(WaitFor([&] { return sandbox.ReadStats().size() >= 2; }, 15s));

  // Right click on the icon, then from the bottom of the menu: "&Закрыть", "&О программе",
  // "&Конфигурация...".
  // A balloon may be up: the click takes it away.
  std::vector<xcb_window_t> known = desktop.TopLevelWindows();
  desktop.RightClick(icon);
  const xcb_window_t menu = desktop.WaitForNewWindow(known, "", 1, 10s);
  ASSERT_NE(menu, 0u) << "no tray menu";
  for (int i = 0; i < 3; ++i) desktop.Key(menu, kKeyUp);
  known = desktop.TopLevelWindows();
  desktop.Key(menu, kKeyReturn);
  const xcb_window_t dialog = desktop.WaitForNewWindow(known, "QELTA MONITOR", 577, 10s);
  ASSERT_NE(dialog, 0u) << "no configuration dialog";

  // The first control takes the focus; the interval list is two tabs on, at "3 секунды".
  desktop.Focus(dialog);
  std::this_thread::sleep_for(500ms);
  desktop.Key(dialog, kKeyTab);
  desktop.Key(dialog, kKeyTab);
  desktop.Key(dialog, kKeyDown);
  SettingsStore settings(sandbox.dir() + "/config/QELTA/QELTA MONITOR");
  ASSERT_TRUE(WaitFor([&] { return settings.ReadInteger(kSettings, kInterval, 0) == 10; }, 10s));
  const uint32_t changed = Now();
  const size_t before = sandbox.ReadStats().size();

  std::this_thread::sleep_for(500ms);
  const QImage picture = desktop.Capture(dialog);
  EXPECT_FALSE(picture.isNull());
  EXPECT_GE(picture.width(), 577);
  if (const char* out = std::getenv("QELTA_CONFIG_SCREENSHOT")) picture.save(out);

  // Three polls at the new period: the first a whole period after the change.
  ASSERT_TRUE(WaitFor([&] { return sandbox.ReadStats().size() >= before + 3; }, 45s));
  const std::vector<uint32_t> times = Times(sandbox.ReadStats());
  const std::vector<uint32_t> earlier(times.begin(), times.begin() + before);
  const std::vector<uint32_t> later(times.begin() + before, times.end());
  for (size_t i = 1; i < earlier.size(); ++i) EXPECT_LE(earlier[i] - earlier[i - 1], 4u);
  EXPECT_GE(later[0], changed + 9);
  EXPECT_LE(later[0], changed + 11);
  for (size_t i = 1; i < later.size(); ++i) {
    EXPECT_GE(later[i] - later[i - 1], 9u) << i;
    EXPECT_LE(later[i] - later[i - 1], 11u) << i;
  }
  EXPECT_TRUE(monitor.Running());
}

}  // namespace
}  // namespace qelta::testing
