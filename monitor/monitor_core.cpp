#include "monitor/monitor_core.h"

#include "monitor/post_report.h"
#include "settings/settings.h"

namespace qelta {

int PollingIntervalMs(int32_t seconds) {
  if (seconds < kMinPollingSeconds) seconds = kMinPollingSeconds;
  if (seconds > kMaxPollingSeconds) seconds = kMaxPollingSeconds;
  return seconds * 1000;
}

MonitorCore::MonitorCore(const MonitorDependencies& deps) : deps_(deps) {
  TimerFactory& t = deps_.timers;
  last_tick_ = t.TickCount();
  update_timer_ = t.CreateTimer(10000, false);
  ctrl_popup_timer_ = t.CreateTimer(100, true);
  tray_updater_ = t.CreateTimer(450, true);
  wake_up_status_timer_ = t.CreateTimer(10000, false);
  post_timer_ = t.CreateTimer(1000, true);
  battery_status_checker_ = t.CreateTimer(1000, false);
  battery_shutdown_timer_ = t.CreateTimer(1000, false);
  startup_timer_ = t.CreateTimer(1, false);

  Handle(*update_timer_, &MonitorCore::UpdateTimerTimer);
  Handle(*ctrl_popup_timer_, &MonitorCore::CtrlPopupTimerTimer);
  Handle(*tray_updater_, &MonitorCore::TrayUpdaterTimer);
  Handle(*wake_up_status_timer_, &MonitorCore::WakeUpStatusTimerTimer);
  Handle(*post_timer_, &MonitorCore::PostTimerTimer);
  Handle(*battery_status_checker_, &MonitorCore::BatteryStatusCheckerTimer);
  Handle(*battery_shutdown_timer_, &MonitorCore::BatteryShutdownTimerTimer);
  Handle(*startup_timer_, &MonitorCore::StartupTimerTimer);

  deps_.keyboard.SetChangeHandler([this] { ParkIdleTimers(); });
  deps_.settings_changes.SetChangeHandler([this] { SettingsChanged(); });
  ParkIdleTimers();
}

MonitorCore::~MonitorCore() {
  deps_.keyboard.SetChangeHandler(nullptr);
  deps_.settings_changes.SetChangeHandler(nullptr);
}

void MonitorCore::Handle(Timer& timer, void (MonitorCore::*handler)()) {
  timer.SetHandler([this, handler] {
    const ParkIdleTimersWhenDone park{*this};
    (this->*handler)();
  });
}

void MonitorCore::SetSettings(Settings* settings) {
  settings_ = settings;
  ReadReportSwitch();
  ParkIdleTimers();
}

void MonitorCore::SetPostReport(PostReport* post) {
  post_ = post;
  ParkIdleTimers();
}

void MonitorCore::ParkIdleTimers() {
  // Off battery the animation only ever shows the steady icon, which may already be there.
  const int steady_icon = power_state_ == 1 ? 0 : 2;
  tray_updater_->SetParked(power_state_ != 2 && tray_tag_ == steady_icon);
  // With the key up and the count at 0 a tick would only set the count to 0 again.
  KeyboardState& keyboard = deps_.keyboard;
  ctrl_popup_timer_->SetParked(!keyboard.NeedsPolling() && ctrl_held_ticks_ == 0 &&
                               !keyboard.CtrlDown());
  post_timer_->SetParked(!PostTickMayAct());
}

bool MonitorCore::PostTickMayAct() {
  if (!monitoring_ || settings_ == nullptr || post_ == nullptr) return false;
  // A switch turned on behind our back must be found by the ticks themselves.
  if (!deps_.settings_changes.TellsEveryChange()) return true;
  return report_switched_on_;
}

void MonitorCore::ReadReportSwitch() {
  if (!monitoring_ || settings_ == nullptr) return;
  try {
    report_switched_on_ = settings_->ReadBool("POST", "Perform", false);
  } catch (const StoreError&) {
    report_switched_on_ = true;  // the tick reads it again and reports the failure
  }
}

void MonitorCore::SettingsChanged() {
  ReadReportSwitch();
  ParkIdleTimers();
}

void MonitorCore::StartMonitoring(bool replaced_instance) {
  replaced_instance_ = replaced_instance;
  monitoring_ = true;
  update_timer_->SetInterval(PollingIntervalMs(settings_->ReadInteger("Settings", "Interval", 30)));
  update_timer_->SetEnabled(true);
  startup_timer_->SetEnabled(true);

  link_state_ = 0;
  power_state_ = 0;
  ShowTrayIcon(2);
  if (post_ != nullptr) {
    post_->PostCounter = 0;
    post_->PostNow = false;
  }
  shutdown_pending_ = false;
  percent_check_armed_ = true;
  beeper_toggle_active_ = false;
  battery_seen_since_.reset();
  battery_period_settled_ = false;
  ReadReportSwitch();
  ParkIdleTimers();
}

void MonitorCore::StartupTimerTimer() {
  startup_timer_->SetEnabled(false);
  UpdateTimerTimer();
}

void MonitorCore::ShowTrayIcon(int index) {
  tray_tag_ = index;
  deps_.tray.ShowTrayIcon(index);
}

void MonitorCore::Balloon(const char* title, const char* text, BalloonIcon icon) {
  deps_.balloons.ShowBalloon(QString::fromUtf8(title), QString::fromUtf8(text), icon, 5000);
}

void MonitorCore::Balloon(const char* title, const QString& text, BalloonIcon icon) {
  deps_.balloons.ShowBalloon(QString::fromUtf8(title), text, icon, 5000);
}

int64_t MonitorCore::ElapsedMs() {
  // Each step is taken modulo 2^32 and is far shorter than the counter's 49-day wrap: the poll
  // reads this at least once an hour.
  const uint32_t tick = deps_.timers.TickCount();
  elapsed_ms_ += static_cast<uint32_t>(tick - last_tick_);
  last_tick_ = tick;
  return elapsed_ms_;
}

void MonitorCore::RequestPromptReport() {
  if (post_ != nullptr) post_->PostNow = true;
}

void MonitorCore::PostTimerTimer() {
  // In the installer and uninstaller modes the store may be closed: the report stays idle.
  if (!monitoring_ || settings_ == nullptr || post_ == nullptr) return;
  post_->PostTimerTimer();
  ReadReportSwitch();
}

}  // namespace qelta
