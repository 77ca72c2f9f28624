// The whole program under Xvfb: a system tray that comes up after the monitor gets the icon,
// and a click on it shows the status pop-up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "bench/xembed_tray_host.h"
#include "program_harness.h"

namespace qelta::testing {
namespace {

using namespace std::chrono_literals;

TEST(LateTrayProgramTest, ATrayThatComesUpLaterGetsTheIcon) {
  VirtualDisplay display;
  ASSERT_TRUE(display.ok());
  ChildProcess simulator;
  const std::string device = StartSimulator(simulator, {"--pace=instant"});
  ASSERT_FALSE(device.empty());
  MonitorSandbox sandbox;
  sandbox.SeedSettings(device, 30);
  ChildProcess monitor;
  ASSERT_TRUE(
      monitor.Start(sandbox.MonitorCommand(), sandbox.Environment(display.name()), sandbox.dir()));
  // Running without a tray: its first poll is recorded.
  ASSERT_TRUE(WaitFor([&] { return sandbox.ReadStats().size() >= 1; }, 10s));

  std::this_thread::sleep_for(1s);
  bench::XEmbedTrayHost tray;
  ASSERT_TRUE(tray.Start(display.name()));
  ASSERT_TRUE(tray.WaitForIcon(10s));

  // The icon may be docked more than once as the program and the toolkit both notice the
  // tray; a click lost on an icon that is being replaced is repeated.
  EXPECT_TRUE(WaitFor(
      [&] {
        tray.ClickIcon();
        return WaitFor([&] { return tray.WindowShown("QELTA MONITOR"); }, 1s);
      },
      10s));
  EXPECT_TRUE(monitor.Running());
}

}  // namespace
}  // namespace qelta::testing
