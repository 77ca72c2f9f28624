#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "monitor/http_poster.h"
#include "monitor/post_report.h"
#include "monitor/report_fields.h"
#include "monitor_fakes.h"

namespace qelta::testing {

// Answers every report at once; records when each was sent (on `clock`, when set).
class RecordingPoster : public HttpPoster {
 public:
  const ManualClock* clock = nullptr;
  int posts = 0;
  std::vector<int64_t> times;
  void Post(const QString&, quint16, const QByteArray&, const QByteArray&,
            std::function<void()> done) override {
    ++posts;
    if (clock != nullptr) times.push_back(clock->Now());
    done();
  }
};

// A monitor in monitor mode over fakes and a manual clock; the first poll happens at
// StartAndPoll().
class MonitorFixture : public ::testing::Test {
 protected:
  MonitorFixture() : clock(0xFFFF0000u) {
    tray.clock = &clock;
    popup.clock = &clock;
    poster.clock = &clock;
    settings.WriteInteger("Settings", "Interval", 3);
    link.status.status_beeper = true;  // as the default `Settings`/`Beeper` wants it
    MonitorDependencies deps{link,  stats,    tray,  balloons,        power,
                             sound, keyboard, clock, settings_changes};
    core = std::make_unique<MonitorCore>(deps);
    core->SetSettings(&settings);
    core->SetPopup(&popup);
    post = std::make_unique<PostReport>(settings, core->PostTimer(), poster,
                                        [] { return ReportFields{}; });
    core->SetPostReport(post.get());
  }

  void StartAndPoll(bool replaced = false) {
    core->StartMonitoring(replaced);
    clock.Advance(1);  // StartupTimer
  }
  // One poll as UpdateTimer would run it.
  void Poll() { core->UpdateTimerTimer(); }

  std::vector<QString> BalloonTexts() const {
    std::vector<QString> texts;
    for (const auto& b : balloons.shown) texts.push_back(b.text);
    return texts;
  }

  ManualClock clock;
  FailableSettings settings;
  FakeUpsLink link;
  RecordingStats stats;
  RecordingTray tray;
  RecordingBalloons balloons;
  RecordingPower power;
  RecordingSound sound;
  FakeKeyboard keyboard;
  FakeSettingsChanges settings_changes;
  RecordingPopup popup;
  RecordingPoster poster;
  std::unique_ptr<MonitorCore> core;
  std::unique_ptr<PostReport> post;
};

}  // namespace qelta::testing
