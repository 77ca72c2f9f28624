#pragma once

#include <QColor>
#include <QFont>
#include <QSize>
#include <QString>

#include "stats/day_columns.h"

class QPainter;

namespace qelta {

// Colours of the graph.
inline const QColor kInputLineColour{102, 102, 255};  // #6666FF
inline const QColor kOutputLineColour{0, 153, 0};     // #009900
inline const QColor kBatteryColour{255, 153, 102};    // #FF9966
inline const QColor kGridColour{240, 240, 240};       // #F0F0F0

// Where the graph lies in a paint box of a given size: 864 columns one pixel wide, centred
// horizontally, the height following the box.
struct GraphGeometry {
  int PlotWidth = 863;  // length of the time axis in pixels
  int PlotHeight = 0;
  int PlotTop = 5;
  int PlotLeft = 0;  // x of the vertical axis

  int Bottom() const { return PlotTop + PlotHeight; }  // y of the time axis
  int ColumnX(int j) const { return PlotLeft + 1 + j; }
  // y of a column value (volts above 160).
  int ValueY(double value) const;
  // y of the level `twentieths` * 20 V above 160 V (the voltage labels and the 220 V line).
  int LevelY(int twentieths) const;
};

GraphGeometry GeometryFor(QSize box);

// Verdana at 6 points when the system has it, else the system's sans face at that size.
QFont GraphFont();

struct GraphStyle {
  QFont font;  // GraphFont(), looked up once by the caller
  QColor text_colour = Qt::black;
  QString decimal_point = QStringLiteral(".");
};

// Paints the graph of `columns` over the whole box (0, 0, box): white ground, hour labels and
// grid, the day's extremes of the series, voltage labels, axes, the 220 V line, then the
// series column by column. `mode` 1 plots the output series, anything else the input series.
// The graph is centred, but never so far left that the voltage labels are cut. Returns the
// geometry used, which the hover readout needs.
GraphGeometry PaintStatsGraph(QPainter& painter, QSize box, const DayColumns& columns, int mode,
                              const GraphStyle& style);

}  // namespace qelta
