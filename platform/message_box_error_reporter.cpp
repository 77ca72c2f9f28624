#include "platform/message_box_error_reporter.h"

#include <QMessageBox>

namespace qelta {

void MessageBoxErrorReporter::ShowError(const QString& message) {
  if (open_.contains(message)) return;
  open_.append(message);
  struct Closed {
    QStringList& open;
    const QString& message;
    ~Closed() { open.removeOne(message); }
  } closed{open_, message};
  ShowBox(message);
}

void MessageBoxErrorReporter::ShowBox(const QString& message) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("QELTA MONITOR"), message, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace qelta
