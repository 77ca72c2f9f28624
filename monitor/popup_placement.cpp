#include "monitor/popup_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cstdint>
#include <limits>

namespace qelta {

namespace {

// Distance along one axis from `value` to the span [first, first + length).
int64_t AxisDistance(int value, int first, int length) {
  const int64_t v = value;
  const int64_t lo = first;
  const int64_t hi = lo + std::max(length, 1) - 1;
  if (v < lo) return lo - v;
  if (v > hi) return v - hi;
  return 0;
}

// The start of a span of `length` that ends on `area_end` (one beyond the last pixel), or that
// starts at `area_first` when it does not fit.
int AlignEnd(int area_first, int area_length, int length) {
  if (length >= area_length) return area_first;
  return area_first + area_length - length;
}

}  // namespace

int ScreenIndexForClick(const QList<PopupScreen>& screens, QPoint click) {
  int best = -1;
  int64_t best_distance = std::numeric_limits<int64_t>::max();
  for (int i = 0; i < screens.size(); ++i) {
    const QRect& g = screens[i].geometry;
    const int64_t dx = AxisDistance(click.x(), g.x(), g.width());
    const int64_t dy = AxisDistance(click.y(), g.y(), g.height());
    const int64_t distance = dx * dx + dy * dy;
    if (distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

QPoint PopupFramePosition(QPoint click, const PopupScreen& screen, QSize frame) {
  const QRect& g = screen.geometry;
  const QRect area = screen.available.isEmpty() ? g : screen.available;
  // Compared as offsets within the screen, so that a screen right or left of another (or above,
  // with negative coordinates) has its middle where it really is.
  const bool left = click.x() - g.x() < g.width() / 2;
  const bool top = click.y() - g.y() < g.height() / 2;
  const int x = left ? area.x() : AlignEnd(area.x(), area.width(), frame.width());
  const int y = top ? area.y() : AlignEnd(area.y(), area.height(), frame.height());
  return QPoint(x, y);
}

QPoint PopupFramePosition(QPoint click, const QList<PopupScreen>& screens, QSize frame) {
  const int index = ScreenIndexForClick(screens, click);
  if (index < 0) return click;
  return PopupFramePosition(click, screens[index], frame);
}

bool DesktopLetsProgramsPlaceWindows() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QList<PopupScreen> DesktopScreens() {
  QList<PopupScreen> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    screens.append({screen->geometry(), screen->availableGeometry()});
  }
  return screens;
}

}  // namespace qelta
