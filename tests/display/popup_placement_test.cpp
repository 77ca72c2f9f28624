// Where the status pop-up's frame goes: inside the available area of the clicked screen, in the
// corner nearest to the tray click, whatever the panels reserve and wherever the screen starts.
#include "monitor/popup_placement.h"

#include <gtest/gtest.h>

#include <QMargins>

namespace qelta {
namespace {

// A pop-up of 248 x 160 pixels in a frame with a 24-pixel title bar and 2-pixel borders.
const QSize kFrame = QSize(248, 160).grownBy(QMargins(2, 24, 2, 2));

QRect FrameAt(QPoint click, const PopupScreen& screen) {
  return QRect(PopupFramePosition(click, screen, kFrame), kFrame);
}

TEST(PopupPlacement, FrameSitsInTheAvailableCornerNearestTheClickAroundAnyPanel) {
  const QRect screen(0, 0, 1920, 1080);
  struct Panel {
    const char* where;
    QRect reserved;   // what the panel covers
    QRect available;  // the screen without it
  };
  const Panel panels[] = {
      {"bottom", QRect(0, 1040, 1920, 40), QRect(0, 0, 1920, 1040)},
      {"top", QRect(0, 0, 1920, 30), QRect(0, 30, 1920, 1050)},
      {"left", QRect(0, 0, 48, 1080), QRect(48, 0, 1872, 1080)},
      {"right", QRect(1872, 0, 48, 1080), QRect(0, 0, 1872, 1080)},
  };
  // Tray clicks near each corner of the screen (on the panel, where the tray would be).
  const QPoint clicks[] = {{5, 5}, {1915, 5}, {5, 1075}, {1915, 1075}};
  for (const Panel& panel : panels) {
    const PopupScreen s{screen, panel.available};
    for (const QPoint& click : clicks) {
      const QRect frame = FrameAt(click, s);
      SCOPED_TRACE(std::string(panel.where) + " panel, click at " + std::to_string(click.x()) +
                   "," + std::to_string(click.y()));
      // All of the frame, status line and title bar included, is on the screen, off the panel.
      EXPECT_TRUE(panel.available.contains(frame));
      EXPECT_FALSE(frame.intersects(panel.reserved));
      // In the corner of the available area on the click's side.
      const bool left = click.x() < 960;
      const bool top = click.y() < 540;
      EXPECT_EQ(left ? frame.left() : frame.right(),
                left ? panel.available.left() : panel.available.right());
      EXPECT_EQ(top ? frame.top() : frame.bottom(),
                top ? panel.available.top() : panel.available.bottom());
    }
  }

  // The numbers for the usual case: a bottom panel, a click on the tray at the bottom right.
  EXPECT_EQ(PopupFramePosition({1900, 1070}, {screen, QRect(0, 0, 1920, 1040)}, QSize(252, 186)),
            QPoint(1920 - 252, 1040 - 186));
  // The middle itself counts as the far half, one pixel before it as the near half.
  const PopupScreen plain{screen, screen};
  EXPECT_EQ(PopupFramePosition({960, 540}, plain, QSize(100, 50)), QPoint(1820, 1030));
  EXPECT_EQ(PopupFramePosition({959, 539}, plain, QSize(100, 50)), QPoint(0, 0));
  // An odd width rounds the middle toward zero: 1919 / 2 = 959.
  const PopupScreen odd{QRect(0, 0, 1919, 1079), QRect(0, 0, 1919, 1079)};
  EXPECT_EQ(PopupFramePosition({959, 539}, odd, QSize(100, 50)), QPoint(1819, 1029));
  EXPECT_EQ(PopupFramePosition({958, 538}, odd, QSize(100, 50)), QPoint(0, 0));
}

TEST(PopupPlacement, ScreensThatDoNotStartAtTheOriginCompareWithTheirOwnMiddle) {
  // A 1280 x 1024 screen left of the primary one, one above it, and one to its right that is
  // shifted down; each has a panel of 40 pixels at its bottom.
  const PopupScreen left{QRect(-1280, 0, 1280, 1024), QRect(-1280, 0, 1280, 984)};
  const PopupScreen primary{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)};
  const PopupScreen above{QRect(0, -1080, 1920, 1080), QRect(0, -1080, 1920, 1040)};
  const PopupScreen right{QRect(1920, 200, 1280, 1024), QRect(1920, 200, 1280, 984)};

  // Right half of the left screen (its middle is at x = -640): right edge at x = 0, not at the
  // screen's left edge as a comparison with half its width (640) would give.
  EXPECT_EQ(FrameAt({-100, 1000}, left),
            QRect(QPoint(-kFrame.width(), 984 - kFrame.height()), kFrame));
  EXPECT_EQ(FrameAt({-1200, 10}, left).topLeft(), QPoint(-1280, 0));
  // Left half of the shifted right screen (middle at x = 2560, y = 712): its top-left corner.
  EXPECT_EQ(FrameAt({2000, 300}, right).topLeft(), QPoint(1920, 200));
  EXPECT_EQ(FrameAt({3190, 1200}, right).bottomRight(), QPoint(3199, 1183));
  EXPECT_EQ(FrameAt({2600, 700}, right).topLeft(), QPoint(3200 - kFrame.width(), 200));
  // Lower half of the screen above (middle at y = -540): bottom edge on its panel's top.
  EXPECT_EQ(FrameAt({100, -50}, above).topLeft(), QPoint(0, -40 - kFrame.height()));
  EXPECT_EQ(FrameAt({100, -1000}, above).topLeft(), QPoint(0, -1080));

  // The screen list: the click decides which screen's area and middle count.
  const QList<PopupScreen> screens{left, primary, above, right};
  EXPECT_EQ(ScreenIndexForClick(screens, {-100, 1000}), 0);
  EXPECT_EQ(ScreenIndexForClick(screens, {0, 0}), 1);
  EXPECT_EQ(ScreenIndexForClick(screens, {1919, 1079}), 1);
  EXPECT_EQ(ScreenIndexForClick(screens, {100, -1}), 2);
  EXPECT_EQ(ScreenIndexForClick(screens, {1920, 200}), 3);
  EXPECT_EQ(PopupFramePosition({-100, 1000}, screens, kFrame),
            QPoint(-kFrame.width(), 984 - kFrame.height()));
  EXPECT_EQ(PopupFramePosition({3190, 1200}, screens, kFrame),
            QPoint(3200 - kFrame.width(), 1184 - kFrame.height()));
  // In the gap below the left screen and beside the primary one: the nearest screen.
  EXPECT_EQ(ScreenIndexForClick(screens, {-5, 1050}), 1);
  EXPECT_EQ(ScreenIndexForClick(screens, {-300, 1050}), 0);
  // Far outside every screen: still the nearest one, and the frame stays on it.
  EXPECT_EQ(ScreenIndexForClick(screens, {5000, 5000}), 3);
  EXPECT_TRUE(
      right.available.contains(QRect(PopupFramePosition({5000, 5000}, screens, kFrame), kFrame)));
  // No screen at all: nothing to choose, the click is all there is.
  EXPECT_EQ(ScreenIndexForClick({}, {10, 10}), -1);
  EXPECT_EQ(PopupFramePosition({10, 10}, QList<PopupScreen>{}, kFrame), QPoint(10, 10));
}

TEST(PopupPlacement, TooLargeAFrameKeepsItsTitleBarOnTheScreen) {
  const PopupScreen small{QRect(100, 50, 200, 120), QRect(100, 70, 200, 100)};
  // Bottom-right click, but the frame is larger than the area both ways.
  EXPECT_EQ(PopupFramePosition({290, 160}, small, kFrame), QPoint(100, 70));
  // Exactly as large: in the area, whichever corner.
  EXPECT_EQ(PopupFramePosition({290, 160}, small, QSize(200, 100)), QPoint(100, 70));
  // An area that the windowing system reports empty counts as the whole screen.
  const PopupScreen no_area{QRect(0, 0, 800, 600), QRect()};
  EXPECT_EQ(PopupFramePosition({790, 590}, no_area, QSize(100, 50)), QPoint(700, 550));
}

}  // namespace
}  // namespace qelta
