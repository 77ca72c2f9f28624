#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace qelta {

// One screen of the desktop: its whole area and the part that panels leave free (both in the
// virtual desktop's coordinates, which may start anywhere, negative included).
struct PopupScreen {
  QRect geometry;
  QRect available;
};

// The screen a tray click belongs to: the one that contains it, else the one nearest to it (a
// click in a gap between screens, or outside them all); -1 when there are no screens.
int ScreenIndexForClick(const QList<PopupScreen>& screens, QPoint click);

// Where the status pop-up's frame goes (the window together with the title bar and borders
// that the window manager adds), so that all of it lies in the screen's available area, in
// the corner nearest to the tray click: left of the screen's middle (its left edge plus half
// its width, rounded toward zero) the frame's left edge is on the available area's left edge,
// otherwise its right edge on the available area's right edge; the same vertically. A frame
// larger than the available area keeps its top-left corner (title bar and close box) inside.
// An empty available area counts as the whole screen.
QPoint PopupFramePosition(QPoint click, const PopupScreen& screen, QSize frame);

// The same on the screen of the click among `screens`; the click itself when there is none.
QPoint PopupFramePosition(QPoint click, const QList<PopupScreen>& screens, QSize frame);

// False where the windowing system does not let a program place its windows (native Wayland):
// the pop-up then opens where the compositor puts a normal window.
bool DesktopLetsProgramsPlaceWindows();

// The desktop's screens as the windowing system reports them now.
QList<PopupScreen> DesktopScreens();

}  // namespace qelta
