#include "platform/busy_indicator.h"

#include <QCursor>
#include <QGuiApplication>

namespace qelta {

WaitCursor::~WaitCursor() {
  SetBusy(false);
}

void WaitCursor::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QGuiApplication::restoreOverrideCursor();
  }
  // The cursor changes at once, not when the event loop next runs.
  QGuiApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace qelta
