// One poll of the UPS and the state machine of link and power source.
#include <algorithm>

#include "display/info_text.h"
#include "monitor/monitor_core.h"
#include "network/secondary_shutdown.h"
#include "settings/settings.h"

namespace qelta {

void MonitorCore::UpdateTimerTimer() {
  const ParkIdleTimersWhenDone park{*this};  // the power source and the icon may change
  if (settings_ == nullptr) return;
  Settings& settings = *settings_;

  update_timer_->SetEnabled(false);
  // However this poll ends (a store that fails inside it included), the next one stays due.
  struct EnableWhenDone {
    Timer& timer;
    ~EnableWhenDone() { timer.SetEnabled(true); }
  } enable_when_done{*update_timer_};
  const int64_t now = ElapsedMs();

  link_ok_ = deps_.link.QueryUPSStatus(last_status_, last_sample_);

  // Only a reply whose flag word reached the beeper flag says what the beeper is doing.
  if (!beeper_toggle_active_ && link_ok_ && last_status_.beeper_flag_carried) {
    const bool wanted = settings.ReadBool("Settings", "Beeper", true);
    if (wanted != last_status_.status_beeper && deps_.link.ToggleUPSBeeper()) {
      link_ok_ = deps_.link.QueryUPSStatus(last_status_, last_sample_);
    }
  }

  if (popup_ != nullptr) popup_->RefreshStatus();
  update_timer_->SetEnabled(true);

  if (link_state_ == 0 && !replaced_instance_ && popup_ != nullptr) {
    popup_->ShowStatusBalloon(0);
  }

  if (link_ok_) {
    if (settings.ReadBool("Stats", "Enabled", true)) deps_.stats.AppendStatsRecord(last_sample_);
    if (link_state_ == 1) {
      Balloon("Состояние UPS", "Появилась связь с UPS.", BalloonIcon::Information);
    }
    if (link_state_ == 0 || link_state_ == 1) {
      ShowTrayIcon(0);
      RequestPromptReport();
    }
    link_state_ = 2;

    if (last_status_.status_using_battery) {
      if (power_state_ == 1) {
        if (settings.ReadBool("Settings", "WarnOnModeChange", true)) {
          Balloon("Состояние UPS", "Нагрузка запитана от батареи.", BalloonIcon::Error);
        }
        RequestPromptReport();
      }
      if (power_state_ != 2) {
        // The battery period counts from the first poll that saw the battery; a lost link does
        // not end it, only a poll on mains does.
        if (!battery_seen_since_) battery_seen_since_ = now;
        ArmBatteryTimeLimit(now);
      }
      if (power_state_ == 1) shutdown_pending_ = false;
      if (settings.ReadBool("Sense", "BatteryPercent", false) && BatteryBelowThreshold() &&
          percent_check_armed_) {
        BatteryStatusCheckerTimer();
        percent_check_armed_ = false;
      }
      ForcedShutdownSeen();
      power_state_ = 2;
      wake_up_status_timer_->SetEnabled(true);
    } else {
      if (power_state_ == 2) {
        if (settings.ReadBool("Settings", "WarnOnModeChange", true)) {
          Balloon("Состояние UPS", "Нагрузка запитана от сети.", BalloonIcon::Information);
        }
        RequestPromptReport();
        if (!forced_shutdown_reached_) StopBatteryTimers();
      }
      // Mains is back before this computer's power-off was asked for: the others may stay up.
      if (others_ != nullptr && others_->Cancel()) {
        Balloon("Состояние UPS", kForcedShutdownCleared, BalloonIcon::Information);
      }
      ForcedShutdownSeen();
      wake_up_status_timer_->SetEnabled(false);
      power_state_ = 1;
      percent_check_armed_ = true;
      battery_seen_since_.reset();
      battery_period_settled_ = false;
      // Mains is back, also after a lost link: no more tries of a refused power-off.
      if (power_off_retrying_) {
        power_off_retrying_ = false;
        StopBatteryTimers();
      }
    }
  } else {
    if (link_state_ == 2) {
      Balloon("Состояние UPS", "Пропала связь с UPS.", BalloonIcon::Error);
      ShowTrayIcon(2);
      // The battery period goes on: a link that returns on battery arms what is left of the
      // time limit. The tries of a refused power-off go on through a lost link, and a primary
      // that has told this computer to shut down goes away itself: its order stands.
      if (!power_off_retrying_ && !forced_shutdown_reached_) StopBatteryTimers();
    }
    link_state_ = 1;
    power_state_ = 0;
    wake_up_status_timer_->SetEnabled(false);
    percent_check_armed_ = true;
  }
}

void MonitorCore::ForcedShutdownSeen() {
  if (!last_status_.forced_shutdown) {
    // The order was taken back (the primary started again): on mains nothing is left to do.
    if (forced_shutdown_reached_ && !last_status_.status_using_battery) StopBatteryTimers();
    forced_shutdown_reached_ = false;
    return;
  }
  // The primary is shutting every computer on the UPS down: the battery condition is reached at
  // once, once for as long as the order stands.
  if (forced_shutdown_reached_) return;
  forced_shutdown_reached_ = true;
  BatteryStatusCheckerTimer();
}

void MonitorCore::ArmBatteryTimeLimit(int64_t now) {
  // After the user's cancel or a power-off attempt the period stays disarmed.
  if (battery_period_settled_) return;
  // The configuration dialog's "on battery for" box is the switch of this limit; with the
  // value missing the limit is armed, as it always was.
  if (!settings_->ReadBool("Sense", "Battery", true)) return;
  const int32_t seconds = settings_->ReadInteger("Sense", "BatteryTime", 15);
  const auto limit =
      static_cast<int32_t>(static_cast<uint32_t>(seconds) * static_cast<uint32_t>(1000));
  int32_t interval = limit;  // a limit of 0 or less never fires
  if (limit > 0) {
    // What is left of it; a limit that has passed while the link was down fires at once.
    const int64_t left = int64_t{limit} - (now - battery_seen_since_.value_or(now));
    interval = static_cast<int32_t>(std::clamp<int64_t>(left, 1, limit));
  }
  battery_status_checker_->SetEnabled(false);
  battery_status_checker_->SetInterval(interval);
  battery_status_checker_->SetEnabled(true);
}

void MonitorCore::WakeUpStatusTimerTimer() {
  if (popup_ != nullptr) popup_->ShowStatusBalloon(2);
}

bool MonitorCore::BatteryBelowThreshold() {
  const int64_t percent = BatteryChargePercentInteger(last_status_.battery_voltage);
  return percent < settings_->ReadInteger("Sense", "BatteryPercentValue", 60);
}

}  // namespace qelta
