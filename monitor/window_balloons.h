#pragma once

#include <QFrame>
#include <QPoint>
#include <QTimer>
#include <functional>

#include "platform/balloon.h"

class QLabel;

namespace qelta {

// Balloons in a small frameless window of our own, for desktops without a notification service:
// the title in bold over the text, with the information or error icon, in the corner of the
// screen's available area nearest to `anchor()` (the last tray click), for the balloon's
// time-out. A new balloon takes the place of the one shown. The window never takes the focus and
// has no taskbar entry; a click on it closes it. The tray icon is left alone.
class WindowBalloons : public BalloonSink {
 public:
  explicit WindowBalloons(std::function<QPoint()> anchor);
  ~WindowBalloons() override;

  void ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                   int timeout_ms) override;

  // The window; tests look at it.
  QWidget& Window() { return window_; }

 private:
  class BalloonWindow : public QFrame {
   public:
    BalloonWindow();
    QLabel* icon = nullptr;
    QLabel* title = nullptr;
    QLabel* text = nullptr;

   protected:
    void mousePressEvent(QMouseEvent* event) override;
  };

  std::function<QPoint()> anchor_;
  BalloonWindow window_;
  QTimer hide_timer_;
};

}  // namespace qelta
