#include "install/window_parts.h"

#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>

#include "settings/config_logo.h"

namespace qelta {
namespace {

constexpr int kLogoWidth = 191;
constexpr int kLogoHeight = 40;

}  // namespace

QWidget* MakeWhiteBand(QWidget* parent) {
  auto* band = new QWidget(parent);
  band->setAutoFillBackground(true);
  QPalette white = band->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  band->setPalette(white);
  return band;
}

QLabel* MakeLogo(QWidget* parent) {
  auto* logo = new QLabel(parent);
  logo->setObjectName(QStringLiteral("Image1"));
  logo->setFixedSize(kLogoWidth, kLogoHeight);
  logo->setPixmap(DrawConfigLogo(kLogoWidth, kLogoHeight, logo->devicePixelRatioF()));
  return logo;
}

QFrame* MakeEtchedLine(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setFixedHeight(2);
  return line;
}

void MakeBold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

void HoverLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  emit entered();
}

void HoverLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  emit left();
}

void HoverLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
}

void HoverLabel::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (event->modifiers() == Qt::NoModifier &&
      (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
    event->accept();
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

void HoverLabel::focusInEvent(QFocusEvent* event) {
  QLabel::focusInEvent(event);
  emit entered();
}

void HoverLabel::focusOutEvent(QFocusEvent* event) {
  QLabel::focusOutEvent(event);
  emit left();
}

void MakeCompanionWindow(QWidget* window) {
  window->setWindowModality(Qt::NonModal);
  window->setAttribute(Qt::WA_QuitOnClose, false);
}

}  // namespace qelta
