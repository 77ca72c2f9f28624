#pragma once

#include <QStringList>

#include "platform/error_reporter.h"

namespace qelta {

// Shows each error in a modal message box of the application: error icon, title
// "QELTA MONITOR", one OK button. The box runs its own event loop, so timers keep firing while
// it is open; an error whose message is already on screen in an open box is not shown a second
// time, so a handler that fails on every tick does not pile up boxes.
class MessageBoxErrorReporter : public ErrorReporter {
 public:
  void ShowError(const QString& message) override;

 protected:
  // Shows the box and returns when the user has closed it.
  virtual void ShowBox(const QString& message);

 private:
  QStringList open_;
};

}  // namespace qelta
