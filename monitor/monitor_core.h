#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "display/info_source.h"
#include "link/modems.h"
#include "link/status_records.h"
#include "monitor/monitor_ports.h"
#include "platform/balloon.h"
#include "platform/timer.h"

namespace qelta {

class OtherComputers;
class PostReport;
class PowerControl;
class Settings;
class SoundPlayer;
struct PowerOffOutcome;

// The polling interval's bounds in seconds. A stored interval outside them (0, negative, or too
// long for the timer) polls at the nearer bound, so a hand-edited value never stops the polls.
inline constexpr int32_t kMinPollingSeconds = 1;
inline constexpr int32_t kMaxPollingSeconds = 3600;
// UpdateTimer's interval in milliseconds for a stored `Settings`/`Interval` in seconds.
int PollingIntervalMs(int32_t seconds);
// Seconds between two tries of a power-off that the system refused, while on battery.
inline constexpr int32_t kPowerOffRetrySeconds = 60;

// Everything the monitor's logic talks to; the main window fills it with the real objects,
// tests with fakes.
struct MonitorDependencies {
  UpsLink& link;
  StatsAppender& stats;
  TrayIconView& tray;
  BalloonSink& balloons;
  PowerControl& power;
  SoundPlayer& sound;
  KeyboardState& keyboard;
  TimerFactory& timers;
  // Tells when the settings may have changed (by this process or another).
  ChangeNotice& settings_changes;
};

// The hidden main window's state and handlers: the timers, the poll with its state machine of
// link and power source, the battery policy with the shutdown countdown, and the tray logic.
// Everything runs on the UI thread, one handler at a time.
//
// Timers whose handler could have no effect in the present state are parked (see Timer), so
// that an idle monitor does not wake: TrayUpdater while the icon shows the steady icon off
// battery, CtrlPopupTimer while the Ctrl key is up, its count is 0 and the keyboard tells every
// change, PostTimer while reporting is off (or outside monitor mode) and the settings tell every
// change. Their Enabled and Interval stay as the handlers set them.
class MonitorCore : public InfoSource {
 public:
  explicit MonitorCore(const MonitorDependencies& deps);
  ~MonitorCore() override;

  // The settings store; null before it is opened and after it is closed (then the poll does
  // nothing and the always-running timers leave settings alone).
  void SetSettings(Settings* settings);
  Settings* SettingsStore() const { return settings_; }
  // The pop-up exists from just after the main window; handlers leave it alone before.
  void SetPopup(StatusPopup* popup) { popup_ = popup; }
  // The HTTP report, driven by PostTimer.
  void SetPostReport(PostReport* post);
  // The other computers on this UPS, shut down before this one; null when none is served.
  void SetOtherComputers(OtherComputers* others) { others_ = others; }

  // Monitor mode's start: interval from the settings, UpdateTimer and StartupTimer on, state
  // reset, no-link icon shown.
  void StartMonitoring(bool replaced_instance);

  // Timer and menu handlers. CancelShutdownProcessClick is the tray menu's cancel: it also
  // keeps the on-battery time limit from being armed again in this battery period.
  void StartupTimerTimer();
  void UpdateTimerTimer();
  void WakeUpStatusTimerTimer();
  bool BatteryBelowThreshold();
  void BatteryStatusCheckerTimer();
  void BatteryShutdownTimerTimer();
  void CancelShutdownProcessClick();
  // The tray menu's "Отменить завершение работы": cancels a running countdown as above and
  // says so in a balloon.
  void CancelShutdownMenuClick();
  void TrayUpdaterTimer();
  void CtrlPopupTimerTimer();
  void InformationMenuClick();
  void PerformTestMenuClick();
  void ToggleBeeperMenuClick();
  void PostTimerTimer();
  // Records where the tray icon was clicked (any button).
  void SetClickPosition(int x, int y) {
    ClickX = x;
    ClickY = y;
  }
  // The tray menu's enabled and checked states, as the menu is about to open.
  struct TrayMenuState {
    bool toggle_beeper_enabled;
    bool toggle_beeper_checked;
    bool perform_test_enabled;
    // Why the UPS commands are disabled on this link (a UPS served elsewhere); empty otherwise.
    std::string commands_hint;
  };
  TrayMenuState TrayMenuPopup() const;

  // InfoSource: what the pop-up reads.
  bool LinkOK() const override { return link_ok_; }
  const TUPSStatus& LastStatus() const override { return last_status_; }
  bool ShutdownPending() const override { return shutdown_pending_; }
  uint32_t ShutdownDeadline() const override { return shutdown_deadline_; }
  uint32_t TickCount() override { return deps_.timers.TickCount(); }
  int OtherComputersLeft() const override;
  std::string ServerName() override { return deps_.link.ServerName(); }
  void SetPerformTestEnabled(bool enabled) override { perform_test_enabled_ = enabled; }
  bool PerformTestEnabled() const { return perform_test_enabled_; }

  const TUPSStatusRaw& LastSample() const { return last_sample_; }
  int LinkState() const { return link_state_; }
  int PowerState() const { return power_state_; }
  bool PercentCheckArmed() const { return percent_check_armed_; }
  bool BeeperToggleActive() const { return beeper_toggle_active_; }
  int TrayTag() const { return tray_tag_; }
  bool BlinkPhase() const { return blink_phase_; }
  int CtrlHeldTicks() const { return ctrl_held_ticks_; }

  Timer& UpdateTimer() { return *update_timer_; }
  Timer& StartupTimer() { return *startup_timer_; }
  Timer& TrayUpdater() { return *tray_updater_; }
  Timer& CtrlPopupTimer() { return *ctrl_popup_timer_; }
  Timer& WakeUpStatusTimer() { return *wake_up_status_timer_; }
  Timer& PostTimer() { return *post_timer_; }
  Timer& BatteryStatusChecker() { return *battery_status_checker_; }
  Timer& BatteryShutdownTimer() { return *battery_shutdown_timer_; }

  int ClickX = 0;
  int ClickY = 0;

 private:
  void ShowTrayIcon(int index);
  // Parks or wakes TrayUpdater, CtrlPopupTimer and PostTimer for the present state. Reads no
  // settings and throws nothing, so it may run on the way out of a failing handler.
  void ParkIdleTimers();
  // Parks the idle timers when it goes out of scope, however the scope is left.
  struct ParkIdleTimersWhenDone {
    MonitorCore& core;
    ~ParkIdleTimersWhenDone() { core.ParkIdleTimers(); }
  };
  // Whether a PostTimer tick could report or count: reporting on, or not known to be off.
  bool PostTickMayAct();
  // Reads `POST`/`Perform` again (after a change of the settings and after each report tick).
  void ReadReportSwitch();
  void SettingsChanged();
  void Balloon(const char* title, const char* text, BalloonIcon icon);
  void Balloon(const char* title, const QString& text, BalloonIcon icon);
  void RequestPromptReport();
  void Handle(Timer& timer, void (MonitorCore::*handler)());
  // Arms the on-battery time limit at a poll that begins a run of polls on battery (a change
  // from mains, the first poll, or a link that came back), for what is left of it at `now`.
  void ArmBatteryTimeLimit(int64_t now);
  // A poll's status carries the primary's forced shutdown (FSD): the battery condition is
  // reached at once, the first time it is seen.
  void ForcedShutdownSeen();
  // Stops both battery timers and clears ShutdownPending.
  void StopBatteryTimers();
  // The balloon, the privilege and the power-off of this computer.
  void PowerOffThisComputer();
  void PowerOffFinished(const PowerOffOutcome& outcome);
  // Milliseconds since the core was made, summed from the tick counter's steps.
  int64_t ElapsedMs();

  MonitorDependencies deps_;
  Settings* settings_ = nullptr;
  StatusPopup* popup_ = nullptr;
  PostReport* post_ = nullptr;
  OtherComputers* others_ = nullptr;

  std::unique_ptr<Timer> update_timer_;
  std::unique_ptr<Timer> ctrl_popup_timer_;
  std::unique_ptr<Timer> tray_updater_;
  std::unique_ptr<Timer> wake_up_status_timer_;
  std::unique_ptr<Timer> post_timer_;
  std::unique_ptr<Timer> battery_status_checker_;
  std::unique_ptr<Timer> battery_shutdown_timer_;
  std::unique_ptr<Timer> startup_timer_;

  TUPSStatus last_status_;
  TUPSStatusRaw last_sample_;
  bool link_ok_ = false;

  int ctrl_held_ticks_ = 0;
  int power_state_ = 0;
  int link_state_ = 0;
  bool blink_phase_ = false;
  bool shutdown_pending_ = false;
  uint32_t shutdown_deadline_ = 0;
  bool percent_check_armed_ = false;
  bool beeper_toggle_active_ = false;
  bool replaced_instance_ = false;
  bool monitoring_ = false;
  bool perform_test_enabled_ = false;
  int tray_tag_ = 0;
  // `POST`/`Perform` as last read; true also when it could not be read, so that the tick runs
  // and meets the failure itself.
  bool report_switched_on_ = false;

  // The battery period as the polls saw it: when the first poll on battery came (on the
  // ElapsedMs scale), kept through a lost link until a poll sees mains.
  std::optional<int64_t> battery_seen_since_;
  // The time limit is not armed again in this battery period: the user cancelled the shutdown
  // or a power-off was attempted.
  bool battery_period_settled_ = false;
  // A refused power-off is tried again: the countdown runs to the next try, through a lost link,
  // until a poll sees mains or the user cancels.
  bool power_off_retrying_ = false;
  // The primary's FSD was seen and the battery condition reached for it: neither mains nor a
  // lost link stops the countdown; only the user's cancel or a poll without FSD does.
  bool forced_shutdown_reached_ = false;
  uint32_t last_tick_ = 0;
  int64_t elapsed_ms_ = 0;
  // Lets an answer that comes after the core is gone find out.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Removes one double quote at the start and one at the end, each end on its own.
std::string StripQuotes(std::string text);

}  // namespace qelta
