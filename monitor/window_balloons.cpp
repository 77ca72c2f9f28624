#include "monitor/window_balloons.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QStyle>

#include "monitor/popup_placement.h"
#include "platform/taskbar_hint.h"

namespace qelta {

WindowBalloons::BalloonWindow::BalloonWindow()
    : QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("Balloon"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_QuitOnClose, false);
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::ToolTipBase);
  setForegroundRole(QPalette::ToolTipText);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(10, 8, 10, 10);
  layout->setHorizontalSpacing(8);
  icon = new QLabel(this);
  title = new QLabel(this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  text = new QLabel(this);
  text->setTextFormat(Qt::PlainText);
  title->setTextFormat(Qt::PlainText);
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  layout->addWidget(title, 0, 1);
  layout->addWidget(text, 1, 1);
}

void WindowBalloons::BalloonWindow::mousePressEvent(QMouseEvent* event) {
  event->accept();
  hide();
}

WindowBalloons::WindowBalloons(std::function<QPoint()> anchor) : anchor_(std::move(anchor)) {
  hide_timer_.setSingleShot(true);
  QObject::connect(&hide_timer_, &QTimer::timeout, &window_, &QWidget::hide);
}

WindowBalloons::~WindowBalloons() = default;

void WindowBalloons::ShowBalloon(const QString& title, const QString& text, BalloonIcon icon,
                                 int timeout_ms) {
  const QStyle::StandardPixmap pixmap =
      icon == BalloonIcon::Error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxInformation;
  const int size = window_.style()->pixelMetric(QStyle::PM_SmallIconSize) * 2;
  window_.icon->setPixmap(window_.style()->standardIcon(pixmap).pixmap(size, size));
  window_.setWindowTitle(title);  // what the window list and screen readers name it
  window_.title->setText(title);
  window_.text->setText(text);
  window_.adjustSize();
  window_.move(PopupFramePosition(anchor_(), DesktopScreens(), window_.size()));
  KeepOffTaskbar(window_);
  window_.show();
  window_.raise();
  hide_timer_.start(timeout_ms);
}

}  // namespace qelta
