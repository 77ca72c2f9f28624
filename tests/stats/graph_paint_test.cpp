// The graph painted into an image, pixels checked at the places the layout gives them.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "stats/day_columns.h"
#include "stats/graph_painter.h"
#include "test_app.h"

namespace qelta {
namespace {

// The initial paint box: 906 x 159, so PlotLeft 26, PlotTop 5, PlotHeight 139, bottom 144.
constexpr int kBoxWidth = 906;
constexpr int kBoxHeight = 159;
constexpr int kLeft = 26;
constexpr int kTop = 5;
constexpr int kBottom = 144;

QImage Paint(const DayColumns& columns, int mode, QSize box = {kBoxWidth, kBoxHeight},
             GraphGeometry* geometry = nullptr) {
  TestApp();
  QImage image(box, QImage::Format_RGB32);
  image.setDotsPerMeterX(3780);  // 96 dots per inch
  image.setDotsPerMeterY(3780);
  image.fill(Qt::magenta);  // anything left unpainted shows
  QPainter painter(&image);
  GraphStyle style;
  style.font = GraphFont();
  const GraphGeometry g = PaintStatsGraph(painter, box, columns, mode, style);
  if (geometry != nullptr) *geometry = g;
  return image;
}

QColor At(const QImage& image, int x, int y) {
  return image.pixelColor(x, y);
}

// Rows of column x painted in `colour`, down to `last_row` (the hour labels lie below the
// time axis).
std::vector<int> RowsOf(const QImage& image, int x, const QColor& colour, int last_row = -1) {
  std::vector<int> rows;
  const int end = last_row < 0 ? image.height() : last_row + 1;
  for (int y = 0; y < end; ++y)
    if (At(image, x, y) == colour) rows.push_back(y);
  return rows;
}

std::vector<int> Span(int from, int to) {  // from .. to - 1
  std::vector<int> rows;
  for (int y = from; y < to; ++y) rows.push_back(y);
  return rows;
}

bool AnyDarkPixel(const QImage& image, QRect area) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (qGray(image.pixel(x, y)) < 128) return true;
  return false;
}

// y of a column value: bottom - round(v / 115 * 139) - 3.
int ValueY(double v) {
  return GeometryFor({kBoxWidth, kBoxHeight}).ValueY(v);
}

void Mains(DayColumns& c, int j, double input, double output) {
  c.BinState[j] = kBinMains;
  c.InputBins[j] = input;
  c.OutputBins[j] = output;
}

void Battery(DayColumns& c, int j) {
  c.BinState[j] = kBinBattery;
  c.InputBins[j] = 130;
  c.OutputBins[j] = 0;
}

TEST(GraphGeometry, ANarrowBoxKeepsTheVoltageLabelsWhole) {
  // A box narrower than the graph and its labels (the window on a small screen at a large
  // scale factor): the centred axis would stand at 870 / 2 - 427 = 8 and cut "260V" to "60V".
  GraphGeometry g;
  const QImage image = Paint(DayColumns{}, 0, {870, kBoxHeight}, &g);
  const int label = QFontMetrics(GraphFont()).horizontalAdvance(QStringLiteral("260V"));
  EXPECT_EQ(g.PlotLeft, label + 2);
  // Nothing of the labels' column is cut: the leftmost pixels hold the "2" of "260V" and the
  // axis stands where the geometry says.
  EXPECT_TRUE(AnyDarkPixel(image, QRect(0, 0, 3, g.Bottom())));
  EXPECT_EQ(At(image, g.PlotLeft, g.PlotTop + 1), QColor(Qt::black));
  // At the designed size the graph stays centred.
  Paint(DayColumns{}, 0, {kBoxWidth, kBoxHeight}, &g);
  EXPECT_EQ(g.PlotLeft, kLeft);
}

TEST(GraphGeometry, FollowsTheBoxSize) {
  GraphGeometry g = GeometryFor({906, 159});
  EXPECT_EQ(g.PlotLeft, 26);
  EXPECT_EQ(g.PlotTop, 5);
  EXPECT_EQ(g.PlotHeight, 139);
  EXPECT_EQ(g.Bottom(), 144);
  EXPECT_EQ(g.ValueY(70), 144 - 85 - 3);  // 70 / 115 * 139 = 84.6
  EXPECT_EQ(g.ValueY(0), 141);
  EXPECT_EQ(g.ValueY(115), 144 - 139 - 3);
  EXPECT_EQ(g.LevelY(3), 144 - 73 - 3);  // 220 V: 139 * 12 / 23 = 72.5
  EXPECT_EQ(g.LevelY(5), 144 - 121 - 3);
  g = GeometryFor({1201, 300});
  EXPECT_EQ(g.PlotLeft, 600 - 427);
  EXPECT_EQ(g.PlotHeight, 280);
  // A tie rounds to even: 115 / 2 of 2 pixels is 1, of 6 pixels is 3 (odd: stays), of
  // 10 pixels is 5.
  g.PlotHeight = 2;
  EXPECT_EQ(g.ValueY(57.5), g.Bottom() - 1 - 3);
  g.PlotHeight = 1;
  EXPECT_EQ(g.ValueY(57.5), g.Bottom() - 0 - 3);  // 0.5 goes to 0
  g.PlotHeight = 3;
  EXPECT_EQ(g.ValueY(57.5), g.Bottom() - 2 - 3);  // 1.5 goes to 2
}

TEST(GraphPaint, AnEmptyDayShowsGroundAxesGridAndThe220Line) {
  const QImage image = Paint(DayColumns{}, 0);
  for (int y = 0; y < kBoxHeight; ++y)
    for (int x = 0; x < kBoxWidth; ++x) ASSERT_NE(At(image, x, y), QColor(Qt::magenta));
  // Vertical axis from PlotTop to bottom - 1, the time axis from PlotLeft to PlotLeft + 862.
  EXPECT_EQ(RowsOf(image, kLeft, Qt::black, kBottom), Span(kTop, kBottom + 1));
  EXPECT_EQ(At(image, kLeft + 862, kBottom), QColor(Qt::black));
  EXPECT_NE(At(image, kLeft + 863, kBottom), QColor(Qt::black));
  EXPECT_EQ(At(image, kLeft - 1, kBottom), QColor(Qt::white));
  // Grid lines at every hour but 24:00, and the 220 V line, light grey.
  const std::vector<int> grid = Span(kTop, kBottom);
  for (int i = 1; i <= 23; ++i) EXPECT_EQ(RowsOf(image, kLeft + 36 * i, kGridColour), grid) << i;
  EXPECT_TRUE(RowsOf(image, kLeft + 36 * 24, kGridColour).empty());
  const int y220 = 68;
  EXPECT_EQ(At(image, kLeft + 1, y220), kGridColour);
  EXPECT_EQ(At(image, kLeft + 862, y220), kGridColour);
  EXPECT_EQ(At(image, kLeft + 863, y220), QColor(Qt::white));
  EXPECT_EQ(At(image, kLeft + 500, y220 - 1), QColor(Qt::white));
  // No extremes text; the voltage and hour labels are there.
  EXPECT_FALSE(AnyDarkPixel(image, QRect(kLeft + 10, kBottom - 30, 80, 20)));
  EXPECT_TRUE(AnyDarkPixel(image, QRect(0, y220 - 6, kLeft - 1, 12)));             // "220V"
  EXPECT_TRUE(AnyDarkPixel(image, QRect(kLeft + 432 - 15, kBottom + 1, 30, 13)));  // "12:00"
  EXPECT_FALSE(AnyDarkPixel(image, QRect(kLeft + 1, kTop, 862, kBottom - kTop)));
}

TEST(GraphPaint, OneMainsColumnHasItsEdgesAndTheDayExtremes) {
  DayColumns c;
  Mains(c, 432, 70, 60);
  c.InputMax = c.InputMin = 230;
  c.OutputMax = c.OutputMin = 220;
  const int x = kLeft + 1 + 432;
  QImage image = Paint(c, 0);
  // Opening edge, and the closing edge drawn by the empty column 433 at the same x.
  EXPECT_EQ(RowsOf(image, x, kInputLineColour), Span(ValueY(70), kBottom));
  EXPECT_TRUE(RowsOf(image, x - 1, kInputLineColour).empty());
  EXPECT_TRUE(RowsOf(image, x + 1, kInputLineColour).empty());
  EXPECT_TRUE(AnyDarkPixel(image, QRect(kLeft + 10, kBottom - 30, 60, 8)));  // Vмакс
  EXPECT_TRUE(AnyDarkPixel(image, QRect(kLeft + 10, kBottom - 20, 60, 8)));  // Vмин

  // The output series: its own colour, level and extremes.
  image = Paint(c, 1);
  EXPECT_EQ(RowsOf(image, x, kOutputLineColour), Span(ValueY(60), kBottom));
  EXPECT_TRUE(RowsOf(image, x, kInputLineColour).empty());
  // Any item other than 1 is the input series.
  EXPECT_EQ(Paint(c, 0), Paint(c, 7));
  EXPECT_EQ(Paint(c, 0), Paint(c, -1));

  // Without extremes, no text; with only a maximum, only that line.
  c.InputMax = c.InputMin = 0;
  image = Paint(c, 0);
  EXPECT_FALSE(AnyDarkPixel(image, QRect(kLeft + 10, kBottom - 30, 80, 20)));
  c.InputMax = 230;
  image = Paint(c, 0);
  EXPECT_TRUE(AnyDarkPixel(image, QRect(kLeft + 10, kBottom - 30, 60, 8)));
  EXPECT_FALSE(AnyDarkPixel(image, QRect(kLeft + 10, kBottom - 20, 80, 10)));
}

TEST(GraphPaint, ARunIsALineBetweenColumnPointsWithoutEdgesAtTheDayEnds) {
  DayColumns c;
  Mains(c, 0, 70, 70);
  Mains(c, 1, 40, 40);
  Mains(c, 2, 40, 40);
  Mains(c, 862, 70, 70);
  Mains(c, 863, 70, 70);
  const QImage image = Paint(c, 0);
  const int y70 = ValueY(70), y40 = ValueY(40);
  const int x0 = kLeft + 1;
  // Column 0: no opening edge; the line from (x0, y70) to (x0 + 1, y40) steps down, its last
  // pixel left out, and goes on flat to column 2.
  for (int y = y70; y < y40; ++y) {
    EXPECT_TRUE(At(image, x0, y) == kInputLineColour || At(image, x0 + 1, y) == kInputLineColour)
        << y;
  }
  EXPECT_EQ(At(image, x0, y70), kInputLineColour);
  EXPECT_NE(At(image, x0, y40 + 5), kInputLineColour);
  EXPECT_EQ(At(image, x0 + 1, y40), kInputLineColour);
  // Column 2 is the last of the run: the empty column 3 closes it from its point down.
  EXPECT_EQ(RowsOf(image, x0 + 2, kInputLineColour), Span(y40, kBottom));
  // A run at the end of the day: column 862 opens it with an edge, the line to column 863
  // leaves out that column's point, and no edge closes the run.
  EXPECT_EQ(RowsOf(image, kLeft + 1 + 862, kInputLineColour), Span(y70, kBottom));
  EXPECT_TRUE(RowsOf(image, kLeft + 1 + 863, kInputLineColour).empty());
  EXPECT_TRUE(RowsOf(image, kLeft + 1 + 861, kInputLineColour).empty());
}

TEST(GraphPaint, BatteryColumnsAreBarsWithoutLinesToTheMainsRuns) {
  DayColumns c;
  Mains(c, 99, 60, 60);
  Battery(c, 100);
  Battery(c, 101);
  Mains(c, 102, 60, 60);  // still counted into a battery column: drawn as a mains column
  Mains(c, 103, 60, 60);
  Battery(c, 200);  // alone, then an empty column
  const int x = kLeft + 1;
  const int y60 = ValueY(60);
  // Bars over the middle half: from 5 + 69 - 34 to 5 + 69 + 34 - 1.
  const std::vector<int> bar = Span(40, 108);

  QImage image = Paint(c, 0);
  EXPECT_EQ(RowsOf(image, x + 100, kBatteryColour), bar);
  EXPECT_EQ(RowsOf(image, x + 101, kBatteryColour), bar);
  // The mains column 99 opens its run with an edge; no line joins it to the bars, nor the
  // bars to column 102: the run goes on from that column's point (drawn by the line on to
  // column 103).
  EXPECT_EQ(RowsOf(image, x + 99, kInputLineColour), Span(y60, kBottom));
  EXPECT_TRUE(RowsOf(image, x + 100, kInputLineColour).empty());
  EXPECT_TRUE(RowsOf(image, x + 101, kInputLineColour).empty());
  EXPECT_EQ(RowsOf(image, x + 102, kInputLineColour), std::vector<int>{y60});
  EXPECT_EQ(RowsOf(image, x + 103, kInputLineColour), Span(y60, kBottom));
  // The lone battery column is closed from its level: in the input series 130 lies above the
  // box, so the edge runs from the top of the box to the axis; in the output series it is
  // 3 pixels high.
  EXPECT_EQ(RowsOf(image, x + 200, kBatteryColour), Span(0, kBottom));
  image = Paint(c, 1);
  std::vector<int> expected = bar;
  for (int y : Span(kBottom - 3, kBottom)) expected.push_back(y);
  EXPECT_EQ(RowsOf(image, x + 200, kBatteryColour), expected);
  EXPECT_EQ(RowsOf(image, x + 100, kBatteryColour), bar);
  EXPECT_EQ(RowsOf(image, x + 102, kOutputLineColour), std::vector<int>{y60});
}

TEST(GraphPaint, ALargerBoxCentresTheGraphAndStretchesItsHeight) {
  DayColumns c;
  Mains(c, 432, 115, 115);
  Mains(c, 433, 115, 115);
  GraphGeometry g;
  const QImage image = Paint(c, 0, {1201, 300}, &g);
  EXPECT_EQ(g.PlotLeft, 173);
  EXPECT_EQ(RowsOf(image, 173, Qt::black, 285), Span(5, 286));
  // 275 V reaches the top of the graph minus 3 pixels.
  EXPECT_EQ(RowsOf(image, 173 + 1 + 432, kInputLineColour), Span(2, 285));
}

}  // namespace
}  // namespace qelta
