#pragma once

#include <QDate>
#include <QString>
#include <QWidget>

#include "stats/day_columns.h"
#include "stats/graph_painter.h"

class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QPainter;
class QPushButton;

namespace qelta {

class StatsFile;
class TStatsForm;

// `G`: the paint box of the statistics window. It paints and reports pointer moves through
// the window's handlers.
class StatsPaintBox : public QWidget {
  Q_OBJECT

 public:
  explicit StatsPaintBox(TStatsForm& form, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  TStatsForm& form_;
};

// The statistics window: one day of recorded samples as a graph of the input or the output
// voltage. Its columns change only on a refresh (at creation by its owner, on "&Обновить",
// and when the picked date changes); switching the series and resizing only repaint. Closing
// hides it; it keeps its date, series and columns.
class TStatsForm : public QWidget {
  Q_OBJECT

 public:
  // `file` must outlive the window. The window starts on today's date and the input series;
  // it reads nothing until ShowButtonClick.
  explicit TStatsForm(StatsFile& file, QWidget* parent = nullptr);

  // The refresh: reads the picked day's records and reduces them to columns, then repaints
  // the graph at once.
  void ShowButtonClick();
  void PickerChange();
  void ModeChange();
  void CloseButtonClick();
  // Paints the graph over the whole paint box.
  void GPaint(QPainter& painter);
  // Shows the time and value of the column under the pointer (x within the paint box) in the
  // caption, or the saved caption where there is nothing to show.
  void GMouseMove(int x);

  const DayColumns& Columns() const { return columns_; }
  // The geometry of the last paint.
  const GraphGeometry& Geometry() const { return geometry_; }
  const QString& SavedCaptionText() const { return SavedCaption; }

  QLabel* Label1 = nullptr;
  QDateEdit* Picker = nullptr;
  QComboBox* Mode = nullptr;
  QPushButton* ShowButton = nullptr;
  QPushButton* CloseButton = nullptr;
  QFrame* PaintPanel = nullptr;
  StatsPaintBox* G = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  // Places the controls by their anchors for a client area of the given size.
  void ApplyAnchors(int width, int height);
  // Tells the graph's accessible description what it shows now.
  void Describe();

  StatsFile& file_;
  DayColumns columns_;
  GraphGeometry geometry_;
  QFont graph_font_;
  QString SavedCaption;
  // The day the columns were read for.
  QDate described_date_;
};

}  // namespace qelta
