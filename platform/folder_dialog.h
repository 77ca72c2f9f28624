#pragma once

#include <QString>

class QWidget;

namespace qelta {

// A dialog in which the user picks an existing folder of the file system.
class FolderDialog {
 public:
  virtual ~FolderDialog() = default;
  // The chosen folder's full path; empty when the user cancelled.
  virtual QString ChooseFolder(const QString& title, const QString& start_folder) = 0;
};

// QFileDialog for folders only, modal, owned by `owner`.
class QtFolderDialog : public FolderDialog {
 public:
  explicit QtFolderDialog(QWidget* owner = nullptr) : owner_(owner) {}
  QString ChooseFolder(const QString& title, const QString& start_folder) override;

 private:
  QWidget* owner_;
};

}  // namespace qelta
