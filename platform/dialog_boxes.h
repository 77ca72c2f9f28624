#pragma once

#include <QString>

class QWidget;

namespace qelta {

// Message boxes with a title of the caller's choice: a question with Yes and No, and boxes
// with only an OK button. Each call returns when the user has answered; the event loop runs
// meanwhile.
class DialogBoxes {
 public:
  virtual ~DialogBoxes() = default;
  // Question icon, Yes and No buttons; true only when the user chose Yes.
  virtual bool AskYesNo(const QString& title, const QString& text) = 0;
  // Information icon, OK button.
  virtual void ShowInformation(const QString& title, const QString& text) = 0;
  // Error icon, OK button.
  virtual void ShowError(const QString& title, const QString& text) = 0;
};

// QMessageBox, application-modal, owned by `owner` (none: a box of its own on the desktop).
class QtDialogBoxes : public DialogBoxes {
 public:
  explicit QtDialogBoxes(QWidget* owner = nullptr) : owner_(owner) {}

  bool AskYesNo(const QString& title, const QString& text) override;
  void ShowInformation(const QString& title, const QString& text) override;
  void ShowError(const QString& title, const QString& text) override;

 private:
  QWidget* owner_;
};

}  // namespace qelta
