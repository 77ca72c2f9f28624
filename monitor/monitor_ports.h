#pragma once

#include <functional>

#include "link/status_records.h"
#include "platform/change_notice.h"

namespace qelta {

// What the monitor's logic needs from the windows and devices around it. The main window
// implements these over Qt; tests implement them with fakes.

// Appends one sample to the statistics file.
class StatsAppender {
 public:
  virtual ~StatsAppender() = default;
  virtual void AppendStatsRecord(const TUPSStatusRaw& sample) = 0;
};

// The tray icon: shows one of its three icons (0 on mains, 1 on battery, 2 no link).
class TrayIconView {
 public:
  virtual ~TrayIconView() = default;
  virtual void ShowTrayIcon(int index) = 0;
};

// The status pop-up as the poll uses it.
class StatusPopup {
 public:
  virtual ~StatusPopup() = default;
  virtual void RefreshStatus() = 0;
  // 0 welcome, 1 current state, 2 on-battery reminder.
  virtual void ShowStatusBalloon(int kind) = 0;
  // Shows the pop-up near the last tray click.
  virtual void ShowNearClick(int click_x, int click_y) = 0;
};

// The state of the Ctrl key, where the session tells it.
class KeyboardState {
 public:
  virtual ~KeyboardState() = default;
  virtual bool CtrlDown() = 0;
  // True while the key can change without the change handler being called, so that the state
  // must be asked at every tick of the Ctrl watch; false while every change is told.
  virtual bool NeedsPolling() = 0;
  // Called (on the UI thread) whenever CtrlDown() or NeedsPolling() may have changed.
  virtual void SetChangeHandler(std::function<void()> handler) = 0;
};

}  // namespace qelta
