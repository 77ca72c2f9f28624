#pragma once

#include <QString>

namespace qelta {

// Message boxes of the application with the caption "QELTA MONITOR" and only an OK button.
// Each call returns when the user has dismissed the box; the event loop runs meanwhile.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void ShowInformation(const QString& text) = 0;
  virtual void ShowError(const QString& text) = 0;
};

// QMessageBox, application-modal; CR LF line breaks are shown as line breaks.
class QtMessageBoxes : public MessageBoxes {
 public:
  void ShowInformation(const QString& text) override;
  void ShowError(const QString& text) override;
};

}  // namespace qelta
