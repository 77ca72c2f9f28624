#pragma once

#include <QString>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/modems.h"
#include "monitor/monitor_core.h"
#include "monitor/monitor_ports.h"
#include "platform/balloon.h"
#include "platform/manual_clock.h"
#include "platform/power_control.h"
#include "platform/sound_player.h"
#include "settings/memory_settings.h"
#include "settings/settings.h"

namespace qelta::testing {

// A UPS whose replies the test sets; every exchange is recorded.
class FakeUpsLink : public UpsLink {
 public:
  bool present = true;     // answers the status query
  bool port_opens = true;  // test and beeper commands can open the port
  TUPSStatus status = WithBeeperFlag();
  // When not empty, the status query answers with this reply line, parsed as the protocol
  // parses it, instead of `status`.
  std::string reply;
  uint32_t next_time = 1000;
  std::vector<std::string> calls;

  bool QueryUPSStatus(TUPSStatus& out, TUPSStatusRaw& raw) override {
    calls.push_back("Q1");
    if (!present) return false;
    out = reply.empty() ? status : ParseStatusReply(reply);
    raw = StatusToRaw(out, next_time++);
    return true;
  }
  bool PerformUPSTest() override {
    calls.push_back("T");
    return port_opens;
  }
  bool ToggleUPSBeeper() override {
    calls.push_back("Q");
    if (!port_opens) return false;
    status.status_beeper = !status.status_beeper;
    return true;
  }
  void SetPortOverride(const std::string& port) override { override_ = port; }
  std::string PortOverride() const override { return override_; }
  // Where the link's logout before a power-off is recorded, as "logout".
  std::vector<std::string>* logouts = nullptr;
  void ReleaseBeforePowerOff() override {
    if (logouts != nullptr) logouts->push_back("logout");
  }

  void OnMains() { status.status_using_battery = false; }
  void OnBattery(const char* battery_voltage = "13.50") {
    status.status_using_battery = true;
    status.battery_voltage = battery_voltage;
  }

 private:
  static TUPSStatus WithBeeperFlag() {
    TUPSStatus s;
    s.beeper_flag_carried = true;  // a whole reply
    return s;
  }
  std::string override_;
};

struct Balloon {
  QString title;
  QString text;
  BalloonIcon icon;
  int timeout;
};

class RecordingBalloons : public BalloonSink {
 public:
  std::vector<Balloon> shown;
  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override {
    shown.push_back({title, text, icon, timeout_ms});
  }
};

class RecordingStats : public StatsAppender {
 public:
  std::vector<TUPSStatusRaw> records;
  void AppendStatsRecord(const TUPSStatusRaw& sample) override { records.push_back(sample); }
};

// Icons shown, and when (on `clock`, when set).
class RecordingTray : public TrayIconView {
 public:
  const ManualClock* clock = nullptr;
  std::vector<int> icons;
  std::vector<int64_t> times;
  void ShowTrayIcon(int index) override {
    icons.push_back(index);
    if (clock != nullptr) times.push_back(clock->Now());
  }
};

class RecordingPopup : public StatusPopup {
 public:
  const ManualClock* clock = nullptr;
  int refreshes = 0;
  std::vector<int> balloons;
  std::vector<int64_t> balloon_times;  // when each balloon was asked for (on `clock`)
  std::vector<std::pair<int, int>> shown_at;
  void RefreshStatus() override { ++refreshes; }
  void ShowStatusBalloon(int kind) override {
    balloons.push_back(kind);
    if (clock != nullptr) balloon_times.push_back(clock->Now());
  }
  void ShowNearClick(int x, int y) override { shown_at.emplace_back(x, y); }
};

// Records the calls; the test answers each power-off request with Finish().
class RecordingPower : public PowerControl {
 public:
  std::vector<std::string> calls;
  std::deque<Done> unanswered;
  void EnableShutdownPrivilege() override { calls.push_back("privilege"); }
  void PowerOff(Done done) override {
    calls.push_back("poweroff");
    unanswered.push_back(std::move(done));
  }
  // Answers the oldest request still unanswered.
  void Finish(bool accepted, const std::string& reason = "") {
    Done done = std::move(unanswered.front());
    unanswered.pop_front();
    done(PowerOffOutcome{accepted, reason});
  }
};

class RecordingSound : public SoundPlayer {
 public:
  std::vector<QString> played;
  void PlayFileAsync(const QString& path) override { played.push_back(path); }
};

// Settings in memory whose reads, or writes, of one key fail as a broken store's do.
class FailableSettings : public MemorySettings {
 public:
  std::string failing_key;        // empty: nothing fails
  std::string failing_write_key;  // empty: every write succeeds

 protected:
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) override {
    if (!failing_key.empty() && key == failing_key) throw StoreError("cannot read " + key);
    return MemorySettings::Lookup(section, key);
  }
  void Store(const std::string& section, const std::string& key, const std::string& text) override {
    if (!failing_write_key.empty() && key == failing_write_key) {
      throw StoreError("cannot write " + key);
    }
    MemorySettings::Store(section, key, text);
  }
};

// A keyboard that is either asked at every tick (`polling`, what a session without key events
// offers) or tells every change of the Ctrl key through Set().
class FakeKeyboard : public KeyboardState {
 public:
  bool polling = true;
  bool ctrl = false;
  int asked = 0;  // CtrlDown() calls

  // The key goes down or up; a keyboard that tells changes tells this one.
  void Set(bool down) {
    ctrl = down;
    if (!polling && handler_) handler_();
  }
  bool CtrlDown() override {
    ++asked;
    return ctrl;
  }
  bool NeedsPolling() override { return polling; }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  std::function<void()> handler_;
};

// Settings changes as a watch over the settings file tells them: after each change that the
// test makes through Notify(), or never (`tells` false, a watch that could not be set up).
class FakeSettingsChanges : public ChangeNotice {
 public:
  bool tells = true;
  void Notify() {
    if (handler_) handler_();
  }
  bool TellsEveryChange() override { return tells; }
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  std::function<void()> handler_;
};

}  // namespace qelta::testing
