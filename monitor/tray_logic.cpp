// The tray icon's animation, the Ctrl-hold shortcut and the tray menu's UPS commands.
#include "monitor/monitor_core.h"
#include "settings/settings.h"

namespace qelta {

void MonitorCore::TrayUpdaterTimer() {
  int index = 2;
  if (power_state_ == 1) {
    index = 0;
  } else if (power_state_ == 2) {
    index = blink_phase_ ? 1 : 0;
    blink_phase_ = !blink_phase_;
  }
  if (index != tray_tag_) ShowTrayIcon(index);
}

void MonitorCore::CtrlPopupTimerTimer() {
  if (deps_.keyboard.CtrlDown()) {
    ++ctrl_held_ticks_;
  } else {
    ctrl_held_ticks_ = 0;
  }
  // Only a running monitor has the pop-up and an open store.
  if (!monitoring_ || settings_ == nullptr || popup_ == nullptr) return;
  if (ctrl_held_ticks_ == 40 && settings_->ReadBool("Settings", "PopupBaloonIn2Secs", true)) {
    popup_->ShowStatusBalloon(1);
  }
}

MonitorCore::TrayMenuState MonitorCore::TrayMenuPopup() const {
  std::string hint;
  const bool allowed = deps_.link.CommandsAllowed(hint);
  return TrayMenuState{link_ok_ && allowed, link_ok_ && last_status_.status_beeper,
                       link_ok_ && allowed && !last_status_.status_testing, hint};
}

void MonitorCore::InformationMenuClick() {
  if (popup_ != nullptr) popup_->ShowNearClick(ClickX, ClickY);
}

void MonitorCore::PerformTestMenuClick() {
  if (deps_.link.PerformUPSTest()) {
    InformationMenuClick();
  } else {
    Balloon("Тестирование UPS", "Невозможно начать тестирование UPS.", BalloonIcon::Error);
  }
}

void MonitorCore::CancelShutdownMenuClick() {
  // A countdown that ended between the menu's opening and the choice is not cancelled twice.
  if (!shutdown_pending_) return;
  CancelShutdownProcessClick();
  Balloon("Завершение работы", "Завершение работы отменено.", BalloonIcon::Information);
}

void MonitorCore::ToggleBeeperMenuClick() {
  if (!deps_.link.ToggleUPSBeeper()) return;
  {
    // Cleared however the poll ends, so a failure inside it cannot stop later polls from
    // keeping the beeper in line.
    struct ToggleScope {
      bool& active;
      explicit ToggleScope(bool& a) : active(a) { active = true; }
      ~ToggleScope() { active = false; }
    } scope(beeper_toggle_active_);
    UpdateTimerTimer();
  }
  if (link_ok_) {
    Balloon("Доп. звук. оповещение UPS",
            last_status_.status_beeper ? "Дополнительное звуковое оповещение включено."
                                       : "Дополнительное звуковое оповещение выключено.",
            BalloonIcon::Information);
    if (settings_ != nullptr)
      settings_->WriteBool("Settings", "Beeper", last_status_.status_beeper);
  } else {
    Balloon("Доп. звук. оповещение UPS", "Невозможно переключить режим звукового оповещения.",
            BalloonIcon::Error);
  }
}

}  // namespace qelta
