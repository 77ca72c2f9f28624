#pragma once

#include <QDate>
#include <QString>
#include <QWidget>

#include "stats/day_columns.h"
#include "stats/day_loader.h"
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

// The line the graph shows while a refresh is under way.
QString LoadingText();

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
//
// A refresh reads the file on a worker thread (DayLoader): the window keeps its columns, with
// a busy cursor and the line "Загрузка..." in the graph, until the day is ready, and the
// program goes on polling meanwhile.
class TStatsForm : public QWidget {
  Q_OBJECT

 public:
  // `file` must outlive the window. The window starts on today's date and the input series;
  // it reads nothing until ShowButtonClick.
  explicit TStatsForm(StatsFile& file, QWidget* parent = nullptr);

  ~TStatsForm() override;

  // The refresh: starts reading the picked day's records, which are reduced to columns; the
  // graph is repainted when they are ready. A refresh asked for while one is under way runs
  // when that one ends, and the columns of the earlier one are not shown.
  void ShowButtonClick();
  // True from a refresh's start until its columns are shown.
  bool Refreshing() const { return loader_.Busy(); }
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

  // Keeps the window within a screen's available area (`available`, in logical pixels): the
  // designed size is the minimum only where the area has room for it, so at large scale
  // factors the window can still be made to fit. Also shrinks and moves a window that is
  // larger than the area or lies partly outside it. Run at creation and at every showing.
  void FitToScreen(const QRect& available);

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
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  // Places the controls by their anchors for a client area of the given size.
  void ApplyAnchors(int width, int height);
  // Tells the graph's accessible description what it shows now.
  void Describe();
  void StartRefresh();
  // On the window's thread when the worker has ended.
  void RefreshFinished();

  StatsFile& file_;
  DayLoader loader_;
  // A refresh was asked for while another was under way.
  bool refresh_again_ = false;
  DayColumns columns_;
  GraphGeometry geometry_;
  QFont graph_font_;
  QString SavedCaption;
  // The day being read, and the day the columns were read for.
  QDate loading_date_;
  QDate described_date_;
};

}  // namespace qelta
