#pragma once

#include <memory>

#include "platform/change_notice.h"

namespace qelta {

// Whether the desktop has a system tray now, and when one may have appeared, for a program that
// starts before the desktop's tray (at log-on). The toolkit chooses once, when the first tray
// icon is made, between a StatusNotifierItem over D-Bus and an X11 (XEmbed) icon; the icon must
// therefore not be made before the tray it belongs in is there.
// - any platform: a StatusNotifierItem tray, registered with org.kde.StatusNotifierWatcher on
//   the session bus, told by the bus's signals;
// - X11 also: the owner of the screen's tray selection, told by its MANAGER announcement on
//   the root window, received on a connection of our own;
// - offscreen and minimal platforms: no tray ever appears; it tells that by never calling.
// TellsEveryChange() is false where a tray could come unannounced, and the program must look.
class TrayPresence : public ChangeNotice {
 public:
  virtual bool TrayThere() = 0;
};

// Needs the QGuiApplication.
std::unique_ptr<TrayPresence> MakeTrayPresence();

}  // namespace qelta
