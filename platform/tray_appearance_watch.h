#pragma once

#include <memory>

#include "platform/change_notice.h"

namespace qelta {

// Tells when a system tray may have appeared on the desktop, for a program that started before
// the desktop's tray (at log-on). Its change handler runs when one may have appeared.
// - X11: the tray's MANAGER announcement on the root window (freedesktop system tray
//   protocol), received on a connection of our own.
// - offscreen and minimal platforms: no tray can appear there; it tells that by never calling.
// - any other platform: TellsEveryChange() is false, and the program must look for itself.
// Needs the QGuiApplication.
std::unique_ptr<ChangeNotice> MakeTrayAppearanceWatch();

}  // namespace qelta
