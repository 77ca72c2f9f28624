#include "monitor/tray_wait.h"

namespace qelta {

TrayWait::TrayWait(TimerFactory& timers, ChangeNotice& appearance, std::function<bool()> tray_there,
                   std::function<void()> show_again)
    : appearance_(appearance),
      tray_there_(std::move(tray_there)),
      show_again_(std::move(show_again)),
      retry_(timers.CreateTimer(kRetryMs, false)) {
  retry_->SetHandler([this] { Look(); });
  appearance_.SetChangeHandler([this] { Look(); });
}

TrayWait::~TrayWait() {
  appearance_.SetChangeHandler(nullptr);
}

void TrayWait::Start() {
  if (tray_there_()) return;
  retry_->SetEnabled(true);
  Park();
}

void TrayWait::Look() {
  if (!Waiting()) return;
  if (!tray_there_()) {
    Park();
    return;
  }
  retry_->SetEnabled(false);
  show_again_();
}

void TrayWait::Park() {
  retry_->SetParked(appearance_.TellsEveryChange());
}

}  // namespace qelta
