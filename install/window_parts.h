#pragma once

#include <QLabel>

class QFrame;

namespace qelta {

// The pieces that the installer, welcome and About windows share.

// A fixed-size dialog whose title bar offers only the close box.
constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
// A window that lives beside the monitor: not modal, and closing it does not end the program.
void MakeCompanionWindow(QWidget* window);

// A band with a white background for the top of a window.
QWidget* MakeWhiteBand(QWidget* parent);
// The maker's logo picture, 191 x 40 pixels.
QLabel* MakeLogo(QWidget* parent);
// A thin etched line across a window.
QFrame* MakeEtchedLine(QWidget* parent);
// Makes a label's font bold.
void MakeBold(QWidget* widget);

// A label that tells when the pointer enters and leaves it and when it is clicked. When it
// takes the keyboard focus it tells as for the pointer, and Enter or Space clicks it.
class HoverLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void entered();
  void left();
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
};

}  // namespace qelta
