#include "platform/message_boxes.h"

#include <QMessageBox>

namespace qelta {
namespace {

void ShowBox(QMessageBox::Icon icon, QString text) {
  // Texts break their lines with CR LF; a label breaks them at the LF alone.
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
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
