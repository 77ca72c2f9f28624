#include "platform/message_boxes.h"

#include <QMessageBox>

namespace qelta {
namespace {

void ShowBox(QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QStringLiteral("QELTA MONITOR"), text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace

void QtMessageBoxes::ShowInformation(const QString& text) {
  ShowBox(QMessageBox::Information, text);
}

void QtMessageBoxes::ShowError(const QString& text) {
  ShowBox(QMessageBox::Critical, text);
}

}  // namespace qelta
