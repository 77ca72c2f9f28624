#include "stats/graph_painter.h"

#include <algorithm>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QPoint>
#include <QVector>
#include <cmath>
#include <cstdlib>

#include "stats/voltage_text.h"

namespace qelta {

namespace {

constexpr int kValueSpan = 115;  // volts above 160 at the top of the graph

// Rounds to the nearest integer, a tie to the even one.
int RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double diff = x - floor;
  double r = diff < 0.5   ? floor
             : diff > 0.5 ? floor + 1
                          : (std::fmod(floor, 2) == 0 ? floor : floor + 1);
  return static_cast<int>(r);
}

// Drawing with the pixel rules of the window system the graph was laid out for: a line
// includes its first pixel and excludes its last, filling the column x from a down to b
// colours the rows a to b - 1, and text is drawn opaque from its top-left corner.
class PixelCanvas {
 public:
  PixelCanvas(QPainter& painter, const QFont& font, QColor text_colour)
      : painter_(painter), metrics_(font, painter.device()), text_colour_(text_colour) {
    painter_.setFont(font);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
  }

  int TextWidth(const QString& text) const { return metrics_.horizontalAdvance(text); }
  int TextHeight() const { return metrics_.height(); }

  void Text(int x, int y, const QString& text) {
    const QRect cell(x, y, TextWidth(text), TextHeight());
    painter_.fillRect(cell, Qt::white);
    painter_.setPen(text_colour_);
    painter_.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
  }

  void FillColumn(int x, int from_y, int to_y, const QColor& colour) {
    if (to_y > from_y) painter_.fillRect(QRect(x, from_y, 1, to_y - from_y), colour);
  }

  void HorizontalLine(int x0, int x1, int y, const QColor& colour) {
    if (x1 > x0) painter_.fillRect(QRect(x0, y, x1 - x0, 1), colour);
  }

  void MoveTo(int x, int y) { pen_ = QPoint(x, y); }

  // From the pen position to (x, y), that point excluded; the pen moves there.
  void LineTo(int x, int y, const QColor& colour) {
    const int dx = std::abs(x - pen_.x()), dy = std::abs(y - pen_.y());
    const int sx = x > pen_.x() ? 1 : -1, sy = y > pen_.y() ? 1 : -1;
    const int steps = std::max(dx, dy);
    int px = pen_.x(), py = pen_.y();
    int error = (dx > dy ? dx : -dy) / 2;
    points_.clear();
    for (int i = 0; i < steps; ++i) {
      points_.append(QPoint(px, py));
      const int e = error;
      if (e > -dx) {
        error -= dy;
        px += sx;
      }
      if (e < dy) {
        error += dx;
        py += sy;
      }
    }
    if (!points_.isEmpty()) {
      painter_.setPen(QPen(colour, 1));
      painter_.drawPoints(points_.constData(), static_cast<int>(points_.size()));
    }
    pen_ = QPoint(x, y);
  }

 private:
  QPainter& painter_;
  QFontMetrics metrics_;
  QColor text_colour_;
  QPoint pen_;
  QVector<QPoint> points_;
};

}  // namespace

int GraphGeometry::ValueY(double value) const {
  return Bottom() - RoundHalfEven(value / kValueSpan * PlotHeight) - 3;
}

int GraphGeometry::LevelY(int twentieths) const {
  return Bottom() - RoundHalfEven(PlotHeight * (4.0 * twentieths) / 23.0) - 3;
}

GraphGeometry GeometryFor(QSize box) {
  GraphGeometry g;
  g.PlotWidth = 863;
  g.PlotLeft = box.width() / 2 - 863 / 2 + 4;
  g.PlotTop = 5;
  g.PlotHeight = box.height() - 20;
  return g;
}

QFont GraphFont() {
  QFont font;
  if (QFontDatabase::hasFamily(QStringLiteral("Verdana"))) {
    font.setFamily(QStringLiteral("Verdana"));
  } else {
    QFont sans;
    sans.setStyleHint(QFont::SansSerif);
    sans.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("sans-serif")});
    font.setFamily(QFontInfo(sans).family());
  }
  font.setPointSize(6);
  return font;
}

GraphGeometry PaintStatsGraph(QPainter& painter, QSize box, const DayColumns& columns, int mode,
                              const GraphStyle& style) {
  GraphGeometry g = GeometryFor(box);
  const int bottom = g.Bottom();
  const bool output = mode == 1;
  const auto& values = output ? columns.OutputBins : columns.InputBins;
  const QColor mains_colour = output ? kOutputLineColour : kInputLineColour;

  painter.save();
  PixelCanvas canvas(painter, style.font, style.text_colour);
  painter.fillRect(QRect(QPoint(0, 0), box), Qt::white);
  // A box narrower than the design (a small screen at a large scale factor) would cut the
  // voltage labels at the left edge, and "260V" would read "60V": the graph moves right just
  // enough to keep them whole, and its right end is cut instead.
  int widest_label = 0;
  for (int level = 0; level <= 5; ++level) {
    widest_label = std::max(
        widest_label, canvas.TextWidth(QString::number(160 + 20 * level) + QStringLiteral("V")));
  }
  g.PlotLeft = std::max(g.PlotLeft, widest_label + 2);

  // Hour labels and grid.
  for (int i = 0; i <= 24; ++i) {
    const QString text = QString::number(i) + QStringLiteral(":00");
    canvas.Text(g.PlotLeft + 36 * i - canvas.TextWidth(text) / 2 + 3, bottom, text);
  }
  for (int i = 0; i <= 23; ++i)
    canvas.FillColumn(g.PlotLeft + 36 * i, g.PlotTop, bottom, kGridColour);

  // The day's extremes of the series.
  const double highest = output ? columns.OutputMax : columns.InputMax;
  const double lowest = output ? columns.OutputMin : columns.InputMin;
  if (highest > 0) {
    canvas.Text(g.PlotLeft + 10, bottom - 30,
                QStringLiteral("Vмакс = ") + FormatOneDecimal(highest, style.decimal_point));
  }
  if (lowest > 0) {
    canvas.Text(g.PlotLeft + 10, bottom - 20,
                QStringLiteral("Vмин = ") + FormatOneDecimal(lowest, style.decimal_point));
  }

  // Voltage labels, right-aligned left of the axis and centred on their levels.
  for (int level = 5; level >= 0; --level) {
    const QString text = QString::number(160 + 20 * level) + QStringLiteral("V");
    canvas.Text(g.PlotLeft - canvas.TextWidth(text) - 2, g.LevelY(level) - canvas.TextHeight() / 2,
                text);
  }

  // Axes, and the 220 V line.
  canvas.FillColumn(g.PlotLeft, g.PlotTop, bottom, Qt::black);
  canvas.HorizontalLine(g.PlotLeft, g.PlotLeft + g.PlotWidth, bottom, Qt::black);
  canvas.HorizontalLine(g.PlotLeft + 1, g.PlotLeft + g.PlotWidth, g.LevelY(3), kGridColour);

  // The series.
  const int bar_top = g.PlotTop + g.PlotHeight / 2 - g.PlotHeight / 4;
  const int bar_bottom = g.PlotTop + g.PlotHeight / 2 + g.PlotHeight / 4;
  bool in_run = false, skip_line = false;
  int prev_x = -1, prev_y = -1;
  QColor colour = mains_colour;
  for (int j = 0; j < kDayColumns; ++j) {
    const uint8_t state = columns.BinState[j];
    const int x = g.ColumnX(j);
    const int y = g.ValueY(values[j]);
    if (state == kBinEmpty) {
      // The run, if any, closes with an edge down to the axis.
      if (prev_x != -1) canvas.FillColumn(prev_x, prev_y, bottom, colour);
      in_run = false;
      continue;
    }
    colour = state == kBinMains ? mains_colour : kBatteryColour;
    if (!in_run && state == kBinMains) {
      if (j > 0) canvas.FillColumn(x, y, bottom, colour);  // the run's opening edge
      canvas.MoveTo(x, y);
    } else if (state == kBinBattery) {
      canvas.FillColumn(x, bar_top, bar_bottom, colour);
      skip_line = true;
    } else {
      if (skip_line) {
        canvas.MoveTo(x, y);  // no line joins a battery bar
      } else {
        canvas.LineTo(x, y, colour);
      }
      skip_line = false;
    }
    prev_x = x;
    prev_y = y;
    in_run = true;
  }
  painter.restore();
  return g;
}

}  // namespace qelta
