#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "config_fakes.h"
#include "platform/manual_clock.h"
#include "settings/configuration_logic.h"

namespace qelta::testing {

// The dialog's logic over fakes: settings and start-up store in memory, a manual clock for the
// poll timer, a recording probe, boxes, busy indicator, file dialog and sound player.
class ConfigFixture : public ::testing::Test {
 protected:
  ConfigFixture()
      : update_timer(clock.CreateTimer(30000, true)),
        probe(settings, events),
        search(probe, settings, adapters),
        boxes(events),
        busy(events) {}

  ConfigurationDependencies Deps() {
    return {settings, autorun, *update_timer, [this] { post_counter = 0; },  sound, search, boxes,
            files,    busy,    executable,    [this] { return access_hint; }};
  }
  ConfigurationLogic& Logic() {
    if (!logic) logic = std::make_unique<ConfigurationLogic>(Deps());
    return *logic;
  }
  // Fills a new dialog and forgets the writes made before.
  ConfigurationLogic& Filled() {
    Logic().Fill();
    return *logic;
  }
  const ConfigControls& Controls() { return Logic().Controls(); }

  LoggingSettings settings;
  LoggingSettings autorun;
  ManualClock clock;
  std::unique_ptr<Timer> update_timer;
  int post_counter = 7;
  Events events;
  FakeProbe probe;
  FakeAdapters adapters;
  PortSearch search;
  FakeBoxes boxes;
  FakeBusy busy;
  FakeFiles files;
  FakeSound sound;
  std::string executable = "/opt/qelta/qelta-monitor";
  // The line the not-found box adds for a UPS that cannot be opened.
  std::string access_hint;
  std::unique_ptr<ConfigurationLogic> logic;
};

}  // namespace qelta::testing
