#pragma once

#include <functional>
#include <memory>

namespace qelta {

// Whether the Ctrl key is held, as far as the desktop session tells a program.
class CtrlKeyWatch {
 public:
  virtual ~CtrlKeyWatch() = default;
  virtual bool CtrlDown() = 0;
  // True while the key can change without the change handler being called: then CtrlDown()
  // must be asked again and again to follow it.
  virtual bool NeedsPolling() = 0;
  // Called on the UI thread whenever CtrlDown() or NeedsPolling() may have changed.
  virtual void SetChangeHandler(std::function<void()> handler) = 0;
};

// The best watch the session offers:
// - X11 with XInput 2.1 or later: the key's presses and releases arrive as raw key events on a
//   connection of our own; the key state is asked of the server only when a Ctrl key moved.
// - X11 without it: the state is asked of the server at every check (NeedsPolling() true).
// - Any other platform (Wayland, offscreen, ...) tells a program its keys only while one of its
//   windows is active: the state is followed then, and reads as up otherwise.
// Needs the QGuiApplication.
std::unique_ptr<CtrlKeyWatch> MakeCtrlKeyWatch();

}  // namespace qelta
