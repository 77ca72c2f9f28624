#include "platform/dialog_boxes.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace qelta {
namespace {

int ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton default_button) {
  QMessageBox box(icon, title, text, buttons, owner);
  // The buttons speak the program's language.
  if (QAbstractButton* yes = box.button(QMessageBox::Yes)) yes->setText(QStringLiteral("&Да"));
  if (QAbstractButton* no = box.button(QMessageBox::No)) no->setText(QStringLiteral("&Нет"));
  box.setDefaultButton(default_button);
  box.setWindowModality(Qt::ApplicationModal);
  return box.exec();
}

}  // namespace

bool QtDialogBoxes::AskYesNo(const QString& title, const QString& text) {
  return ShowBox(owner_, QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                 QMessageBox::Yes) == QMessageBox::Yes;
}

void QtDialogBoxes::ShowInformation(const QString& title, const QString& text) {
  ShowBox(owner_, QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtDialogBoxes::ShowError(const QString& title, const QString& text) {
  ShowBox(owner_, QMessageBox::Critical, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

}  // namespace qelta
