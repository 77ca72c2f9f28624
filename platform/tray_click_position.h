#pragma once

#include <QPoint>
#include <QString>
#include <optional>

namespace qelta {

// The screen position a D-Bus (StatusNotifierItem) tray passed with its last click. Such a tray
// calls the item's Activate(x, y) or ContextMenu(x, y); the toolkit (Qt 6.4) reports only the
// kind of click to the program and drops the position, writing it nowhere but its "qt.qpa.tray"
// debug log, as "x y", just before it reports the click. Where the pointer's own position is
// stale (Xwayland, after a click on a native Wayland bar) that logged position is the only
// right one, so this listens to that log: it turns the category's debug messages on and keeps
// them out of the program's output, and passes every other message on unchanged.
// Should a later toolkit word the message differently, no position is found and the caller
// falls back to the pointer's position, as before.
class TrayClickPosition {
 public:
  // Starts listening; once per process, before the tray icon is made. Later calls do nothing.
  static void Listen();
  // The position logged in the last second and not taken yet; forgets it.
  static std::optional<QPoint> Take();
  // "x y" as the toolkit writes it (two integers, one space), or nothing.
  static std::optional<QPoint> Parse(const QString& message);
};

}  // namespace qelta
