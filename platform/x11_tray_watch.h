#pragma once

#include <functional>
#include <string>

#include "platform/change_notice.h"
#include "platform/x11_event_connection.h"

namespace qelta {

// Tells when a system tray appears on an X11 screen: a tray that takes the screen's
// _NET_SYSTEM_TRAY_S<n> selection announces itself with a MANAGER message on the root window
// (freedesktop system tray protocol), which this receives on a connection of its own.
class X11TrayWatch : public ChangeNotice {
 public:
  // Connects to `display` (empty: $DISPLAY). TellsEveryChange() is false when the display
  // cannot be reached or its root window not watched, and becomes false if the connection
  // breaks.
  explicit X11TrayWatch(const std::string& display = std::string());

  bool TellsEveryChange() override { return ready_; }
  // True when a tray owns the screen's selection now (asks the X server).
  bool TrayOwned();
  void SetChangeHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  xcb_atom_t Atom(const char* name);
  void OnEvent(const xcb_generic_event_t& event);

  X11EventConnection connection_;
  xcb_atom_t manager_ = XCB_ATOM_NONE;
  xcb_atom_t selection_ = XCB_ATOM_NONE;
  bool ready_ = false;
  std::function<void()> handler_;
};

}  // namespace qelta
