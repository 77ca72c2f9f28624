#pragma once

#include <array>
#include <memory>

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
// unless Settings/CloseInformationOnDeactivate says otherwise.
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

  // Shows the balloon of a kind: 0 welcome, 1 current state, 2 on-battery reminder. Any
  // other kind shows nothing.
  void ShowStatusBalloon(int kind);

  // The text of reading label `index` (an InfoReading), units included; empty for an index
  // out of range.
  QString ReadingText(int index) const;
  const QString& SummaryText() const { return view_.summary; }

  // Auto-hide check, run by the 250 ms timer.
  void TimerTimer();

 private:
  void HighlightLabel(QLabel* label, bool highlighted);

  InfoSource& source_;
  Settings& settings_;
  BalloonSink& balloons_;

  std::array<QLabel*, kInfoReadingCount> captions_{};
  std::array<QLabel*, kInfoReadingCount> readings_{};
  QLabel* status_ = nullptr;
  std::unique_ptr<Timer> timer_;

  InfoView view_;
};

}  // namespace qelta
