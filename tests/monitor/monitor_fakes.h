#pragma once

#include <QString>
#include <deque>
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

namespace qelta::testing {

// A UPS whose replies the test sets; every exchange is recorded.
class FakeUpsLink : public UpsLink {
 public:
  bool present = true;     // answers the status query
  bool port_opens = true;  // test and beeper commands can open the port
  TUPSStatus status;
  uint32_t next_time = 1000;
  std::vector<std::string> calls;

  bool QueryUPSStatus(TUPSStatus& out, TUPSStatusRaw& raw) override {
    calls.push_back("Q1");
    if (!present) return false;
    out = status;
    raw = StatusToRaw(status, next_time++);
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

  void OnMains() { status.status_using_battery = false; }
  void OnBattery(const char* battery_voltage = "13.50") {
    status.status_using_battery = true;
    status.battery_voltage = battery_voltage;
  }

 private:
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

class RecordingTray : public TrayIconView {
 public:
  std::vector<int> icons;
  void ShowTrayIcon(int index) override { icons.push_back(index); }
};

class RecordingPopup : public StatusPopup {
 public:
  int refreshes = 0;
  std::vector<int> balloons;
  std::vector<std::pair<int, int>> shown_at;
  void RefreshStatus() override { ++refreshes; }
  void ShowStatusBalloon(int kind) override { balloons.push_back(kind); }
  void ShowNearClick(int x, int y) override { shown_at.emplace_back(x, y); }
};

class RecordingPower : public PowerControl {
 public:
  std::vector<std::string> calls;
  void EnableShutdownPrivilege() override { calls.push_back("privilege"); }
  void PowerOff() override { calls.push_back("poweroff"); }
};

class RecordingSound : public SoundPlayer {
 public:
  std::vector<QString> played;
  void PlayFileAsync(const QString& path) override { played.push_back(path); }
};

class FakeKeyboard : public KeyboardState {
 public:
  bool ctrl = false;
  bool CtrlDown() override { return ctrl; }
};

}  // namespace qelta::testing
