#pragma once

#include <functional>
#include <memory>

#include "platform/change_notice.h"
#include "platform/timer.h"

namespace qelta {

// Waits for a system tray that is not there yet when the monitor starts (a desktop whose tray
// comes up after the programs started at log-on) and shows the tray icon again once one is.
// It looks every kRetryMs milliseconds while the desktop does not tell when a tray appears;
// where it does, the retry timer stays enabled but parked and a tray is looked for when told.
class TrayWait {
 public:
  static constexpr int kRetryMs = 2000;

  // `tray_there` tells whether a tray is there now; `show_again` shows the icon again.
  TrayWait(TimerFactory& timers, ChangeNotice& appearance, std::function<bool()> tray_there,
           std::function<void()> show_again);
  ~TrayWait();
  TrayWait(const TrayWait&) = delete;
  TrayWait& operator=(const TrayWait&) = delete;

  // Called once the icon has been shown: starts waiting when no tray is there.
  void Start();
  // True until a tray has been found.
  bool Waiting() const { return retry_->Enabled(); }
  Timer& RetryTimer() { return *retry_; }

 private:
  void Look();
  void Park();

  ChangeNotice& appearance_;
  std::function<bool()> tray_there_;
  std::function<void()> show_again_;
  std::unique_ptr<Timer> retry_;
};

}  // namespace qelta
