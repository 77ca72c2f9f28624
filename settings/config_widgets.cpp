#include "settings/config_widgets.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace qelta {

FileNameEdit::FileNameEdit(QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)), browse_(new QToolButton(this)) {
  browse_->setText(QStringLiteral("…"));
  browse_->setFocusPolicy(Qt::TabFocus);
  browse_->setCursor(Qt::ArrowCursor);
  setFocusProxy(edit_);
  edit_->installEventFilter(this);
  connect(browse_, &QToolButton::clicked, this, [this] {
    if (browse_handler_) browse_handler_();
  });
}

QSize FileNameEdit::sizeHint() const {
  const QSize edit = edit_->sizeHint();
  return {edit.width() + edit.height(), edit.height()};
}

QSize FileNameEdit::minimumSizeHint() const {
  const QSize edit = edit_->minimumSizeHint();
  return {edit.width() + edit.height(), edit.height()};
}

void FileNameEdit::resizeEvent(QResizeEvent*) {
  const int side = height();
  edit_->setGeometry(0, 0, width() - side, side);
  browse_->setGeometry(width() - side, 0, side, side);
}

bool FileNameEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Down && key->modifiers() == Qt::AltModifier && browse_handler_) {
      browse_handler_();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void PortList::showPopup() {
  if (about_to_open_) about_to_open_();
  QComboBox::showPopup();
}

QIcon PlayGlyph(const QColor& colour, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath triangle;
  triangle.moveTo(size * 0.28, size * 0.18);
  triangle.lineTo(size * 0.82, size * 0.5);
  triangle.lineTo(size * 0.28, size * 0.82);
  triangle.closeSubpath();
  painter.fillPath(triangle, colour);
  return QIcon(pixmap);
}

}  // namespace qelta
