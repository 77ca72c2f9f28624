#pragma once

class QWidget;

namespace qelta {

// Asks the window manager to give `window` no taskbar entry and no place in the pager (the
// EWMH states _NET_WM_STATE_SKIP_TASKBAR and _NET_WM_STATE_SKIP_PAGER), for a small tool
// window that belongs to the tray icon. Call it before each show: a window manager drops the
// states when the window is hidden. Does nothing where the desktop has no such hint (not X11).
void KeepOffTaskbar(QWidget& window);

}  // namespace qelta
