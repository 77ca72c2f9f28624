// The battery condition, the shutdown countdown and the forced power-off.
#include <QString>

#include "display/info_text.h"
#include "monitor/monitor_core.h"
#include "network/secondary_shutdown.h"
#include "platform/platform_texts.h"
#include "platform/power_control.h"
#include "platform/sound_player.h"
#include "settings/settings.h"

namespace qelta {
namespace {

// What the user is told when the system refused or failed the power-off; the system's reason
// follows the text.
constexpr char kPowerOffFailedTitle[] = "Компьютер НЕ выключен!";
constexpr char kPowerOffFailedText[] =
    "Автоматическое выключение не удалось. Сохраните работу и завершите работу компьютера "
    "вручную. Пока UPS работает от батареи, попытка повторяется каждые 60 сек.\nПричина: ";

}  // namespace

std::string StripQuotes(std::string text) {
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

void MonitorCore::BatteryStatusCheckerTimer() {
  battery_status_checker_->SetEnabled(false);
  if (settings_ == nullptr) return;
  Settings& settings = *settings_;

  if (settings.ReadBool("Sense", "BatteryShutdown", true)) {
    const int32_t seconds = settings.ReadInteger("Sense", "BatteryShutdownCountdown", 60);
    battery_shutdown_timer_->SetEnabled(false);
    battery_shutdown_timer_->SetInterval(
        static_cast<int32_t>(static_cast<uint32_t>(seconds) * static_cast<uint32_t>(1000)));
    battery_shutdown_timer_->SetEnabled(true);
    shutdown_pending_ = true;
    const int32_t again = settings.ReadInteger("Sense", "BatteryShutdownCountdown", 60);
    shutdown_deadline_ = static_cast<uint32_t>(again) * 1000u + deps_.timers.TickCount();
  }

  if (settings.ReadBool("Sense", "BatteryPlaySound", false)) {
    const std::string path = StripQuotes(settings.ReadString("Sense", "BatterySound", ""));
    if (!path.empty()) deps_.sound.PlayFileAsync(QString::fromStdString(path));
  }
}

void MonitorCore::BatteryShutdownTimerTimer() {
  CancelShutdownProcessClick();
  if (others_ != nullptr) {
    // The other computers on this UPS go down first (FSD), this one once they have gone.
    others_->ShutDownThen([this] { PowerOffThisComputer(); });
    if (others_->Waiting()) {
      Balloon("Завершение работы", OtherComputersText(others_->Left()), BalloonIcon::Error);
    }
    return;
  }
  PowerOffThisComputer();
}

int MonitorCore::OtherComputersLeft() const {
  return others_ != nullptr && others_->Waiting() ? others_->Left() : -1;
}

void MonitorCore::PowerOffThisComputer() {
  // A server this computer is logged in to need not wait for it any longer.
  deps_.link.ReleaseBeforePowerOff();
  Balloon("Завершение работы", platform_texts::kForcedShutdownNow, BalloonIcon::Error);
  deps_.power.EnableShutdownPrivilege();
  // Powered off whatever the privilege step gave; a refusal is told to the user.
  deps_.power.PowerOff([this, alive = std::weak_ptr<bool>(alive_)](const PowerOffOutcome& outcome) {
    if (!alive.expired()) PowerOffFinished(outcome);
  });
}

void MonitorCore::PowerOffFinished(const PowerOffOutcome& outcome) {
  if (outcome.accepted) return;
  // Still running on this UPS: a server this computer logged out of counts it again.
  deps_.link.ResumeAfterFailedPowerOff();
  // Each try's failure takes the place of the one before: one notice, until the user closes it.
  deps_.balloons.ShowBalloon(
      QString::fromUtf8(kPowerOffFailedTitle),
      QString::fromUtf8(kPowerOffFailedText) + QString::fromStdString(outcome.reason),
      BalloonIcon::Error, kBalloonStaysUntilClosed);
  // While the battery period lasts (a lost link does not end it), the power-off is tried again
  // after a countdown that the pop-up shows and the tray menu cancels; mains ends it.
  if (!battery_seen_since_) return;
  power_off_retrying_ = true;
  battery_shutdown_timer_->SetEnabled(false);
  battery_shutdown_timer_->SetInterval(kPowerOffRetrySeconds * 1000);
  battery_shutdown_timer_->SetEnabled(true);
  shutdown_pending_ = true;
  shutdown_deadline_ = kPowerOffRetrySeconds * 1000u + deps_.timers.TickCount();
}

void MonitorCore::CancelShutdownProcessClick() {
  StopBatteryTimers();
  power_off_retrying_ = false;
  // No new time limit in this battery period, not even after a lost link comes back.
  battery_period_settled_ = true;
}

void MonitorCore::StopBatteryTimers() {
  battery_status_checker_->SetEnabled(false);
  battery_shutdown_timer_->SetEnabled(false);
  shutdown_pending_ = false;
}

}  // namespace qelta
