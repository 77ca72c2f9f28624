#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <QString>
#include <QWidget>

#include "display/info_source.h"
#include "display/info_text.h"
#include "platform/balloon.h"
#include "platform/timer.h"
#include "settings/settings.h"

class QLabel;

namespace qelta {

// The small status pop-up: the last readings, the state words and the countdown, and the
// summary that the tray balloons show. Created once at start-up and kept hidden until the
// main window shows it near the tray; it hides itself when another window becomes active,
// unless Settings/CloseInformationOnDeactivate says otherwise. It grows downward as far as its
// status text and countdown need.
class TInfoForm : public QWidget {
  Q_OBJECT

 public:
  // Refreshes once before returning, so `source` must already answer (and accept
  // SetPerformTestEnabled). All references must outlive the window.
  TInfoForm(InfoSource& source, Settings& settings, BalloonSink& balloons, TimerFactory& timers,
            QWidget* parent = nullptr);
  ~TInfoForm() override;

  // Rebuilds the label texts, their highlighting and the summary from the source, and sets
  // whether the tray menu's self-test item is enabled.
  void RefreshStatus();

  // Where the window's frame goes for a frame size (the window with the title bar and borders
  // that the window manager adds).
  using FramePlacement = std::function<QPoint(QSize frame)>;

  // Moves the window so that its frame lies where `place` says, and keeps it there: whenever
  // the frame's size changes later while the window is still where it was put (the window
  // manager's frame becomes known once the window is shown; the status text grows), the
  // window is placed again. A window that the user has moved elsewhere stays where it is.
  void PlaceFrame(FramePlacement place);

  // Shows the balloon of a kind: 0 welcome, 1 current state, 2 on-battery reminder. Any
  // other kind shows nothing.
  void ShowStatusBalloon(int kind);

  // The text of reading label `index` (an InfoReading), units included; empty for an index
  // out of range.
  QString ReadingText(int index) const;
  const QString& SummaryText() const { return view_.summary; }

  // Auto-hide check, run by the 250 ms timer; it also follows the frame (see PlaceFrame).
  // The timer stays enabled for the window's whole life but is parked while the window is
  // hidden, when the check has nothing to do.
  void TimerTimer();
  const Timer& AutoHideTimer() const { return *timer_; }

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void HighlightLabel(QLabel* label, bool highlighted);
  // Sizes the status and countdown labels to their texts and the window to its labels.
  void FitToText();
  // The frame's size as the window manager has drawn it, or as it drew it last time while the
  // frame is not known (a window that has not been shown yet has none).
  QSize FrameSize();
  void Place();
  void FollowFrame();
  void FollowFrameSoon();

  InfoSource& source_;
  Settings& settings_;
  BalloonSink& balloons_;

  std::array<QLabel*, kInfoReadingCount> captions_{};
  std::array<QLabel*, kInfoReadingCount> readings_{};
  QLabel* status_ = nullptr;
  QLabel* countdown_ = nullptr;
  std::unique_ptr<Timer> timer_;

  FramePlacement placement_;
  QRect placed_;            // the frame geometry last asked for
  QMargins frame_margins_;  // the frame seen last, around the client area
  bool follow_queued_ = false;

  InfoView view_;
};

}  // namespace qelta
